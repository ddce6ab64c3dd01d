// vessarine-cli lookup: every registry's answer for each address given.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct LookupOptions {
  enum class Format { Text, Json, Csv };
  Format format = Format::Text;
  std::vector<std::string> addresses;  // "-" reads addresses one per line from stdin
  std::string prefixes;                // the user's prefixes file; empty: the default one
  bool wwn = false;                    // 64-bit forms without a marker are World Wide Names
};

// 0 when every input was an address (found or not), 1 otherwise, 2 when
// the prefixes file cannot be used.
int RunLookup(const LookupOptions& options, std::FILE* out, std::FILE* err);
