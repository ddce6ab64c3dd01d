// vessarine-cli lookup: every registry's answer for each address given.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct LookupOptions {
  enum class Format { Text, Json, Csv };
  Format format = Format::Text;
  std::vector<std::string> addresses;  // "-" reads addresses one per line from stdin
};

// 0 when every input was an address (found or not), 1 otherwise.
int RunLookup(const LookupOptions& options, std::FILE* out, std::FILE* err);
