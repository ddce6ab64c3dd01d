#include "tables_cmd.h"

#include "vessarine/text/escape.h"

bool LoadTables(const char* command, const std::string& prefixes, registry::RegistryTables* tables, std::FILE* err) {
  std::string error;
  auto user = registry::UserPrefixes::LoadFor(prefixes, &error);
  if (!user) {
    std::fprintf(err, "vessarine-cli %s: %s\n", command, text::DisplayText(error).c_str());
    return false;
  }
  tables->SetUserPrefixes(std::move(*user));
  tables->Load(err);
  return true;
}
