#include "tables_cmd.h"

#include "vessarine/text/escape.h"

std::unique_ptr<engine::Engine> OpenEngine(const char* command, const std::string& prefixes, std::FILE* err,
                                           bool manyLookups) {
  std::string error;
  auto opened = engine::Engine::Open(engine::Options{prefixes, manyLookups}, err, &error);
  if (!opened) std::fprintf(err, "vessarine-cli %s: %s\n", command, text::DisplayText(error).c_str());
  return opened;
}
