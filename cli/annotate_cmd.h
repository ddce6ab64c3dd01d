// vessarine-cli annotate: finds every MAC address in text (an ARP table, a
// switch's address table, DHCP leases, a log) and names its holder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct AnnotateOptions {
  bool json = false;               // one JSON object per address instead of the annotated text
  std::vector<std::string> files;  // none: stdin; "-" is stdin too
  std::string prefixes;            // the user's prefixes file; empty: the default one
};

// 0 when every file was read, 1 when one could not be (the others are
// still annotated), 2 when the prefixes file cannot be used.
int RunAnnotate(const AnnotateOptions& options, std::FILE* out, std::FILE* err);
