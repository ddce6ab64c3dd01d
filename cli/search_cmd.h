// vessarine-cli search and export: every registry's assignments as rows
// (registry/assignments.h), all of them or those whose holder contains a
// text.
#pragma once

#include <cstdio>
#include <string>

#include "vessarine/registry/assignments.h"

struct SearchOptions {
  registry::RowFormat format = registry::RowFormat::Text;
  std::string text;  // part of the holder's name; not empty
};

// 0 when an assignment matched, 1 when none did or the output failed.
int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err);

// Writes every assignment that `filter` takes (every one when null), after
// the CSV header for CSV; the number written, or -1 when the output failed
// (said on `err` as `command`'s).
long WriteAssignments(const char* command, registry::RowFormat format, const registry::HolderFilter* filter,
                      std::FILE* out, std::FILE* err);
