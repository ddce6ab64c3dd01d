#include "export_cmd.h"

#include "search_cmd.h"
#include "tables_cmd.h"

int RunExport(answer::RowFormat format, const std::string& prefixes, std::FILE* out, std::FILE* err) {
  const long rows = WriteAssignments("export", format, nullptr, prefixes, out, err);
  return rows == -2 ? kExitPrefixes : rows < 0 ? 1 : 0;
}
