// vessarine-cli search and export: every registry's assignments as rows
// (answer/assignments.h), all of them or those whose holder contains a
// text; or, for search, one capture, display or firewall filter matching
// every block found (answer/filters.h).
#pragma once

#include <cstdio>
#include <string>

#include <optional>

#include "vessarine/answer/assignments.h"
#include "vessarine/answer/filters.h"

struct SearchOptions {
  answer::RowFormat format = answer::RowFormat::Text;
  std::string text;      // part of the holder's name; not empty
  std::string prefixes;  // the user's prefixes file; empty: the default one
  std::optional<answer::FilterFormat> filter;  // a filter instead of rows
  answer::FilterDirection direction = answer::FilterDirection::Either;
};

// 0 when an assignment matched, 1 when none did, the filter cannot be
// written or the output failed, 2 when the prefixes file cannot be used.
int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err);

// Writes every assignment of which `filter` takes a holder (every one when
// null), after the CSV header for CSV; the number written, -1 when the
// output failed (said on `err` as `command`'s), -2 when the prefixes file
// cannot be used.
long WriteAssignments(const char* command, answer::RowFormat format, const answer::HolderFilter* filter,
                      const std::string& prefixes, std::FILE* out, std::FILE* err);
