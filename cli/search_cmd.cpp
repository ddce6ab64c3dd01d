#include "search_cmd.h"

#include <vector>

#include "tables_cmd.h"
#include "vessarine/registry/escape.h"

namespace {

// Whether everything written to `out` reached it; said on `err` when not.
bool Flushed(const char* command, std::FILE* out, std::FILE* err) {
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  std::fprintf(err, "vessarine-cli %s: cannot write the output\n", command);
  return false;
}

}  // namespace

long WriteAssignments(const char* command, registry::RowFormat format, const registry::HolderFilter* filter,
                      const std::string& prefixes, std::FILE* out, std::FILE* err) {
  registry::RegistryTables tables;
  if (!LoadTables(command, prefixes, &tables, err)) return -2;
  std::string text;
  if (format == registry::RowFormat::Csv) text += registry::AssignmentCsvHeader();
  long rows = 0;
  registry::ForEachAssignment(tables, [&](const registry::Match& m) {
    if (filter != nullptr && !registry::AnyHolderMatches(*filter, m)) return;
    registry::AppendAssignmentRow(&text, format, m);
    ++rows;
    if (text.size() >= 64 * 1024) {
      std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  });
  std::fwrite(text.data(), 1, text.size(), out);
  return Flushed(command, out, err) ? rows : -1;
}

namespace {

// The filter matching every block of which `filter` takes a holder; what
// WriteAssignments returns, the number of blocks for the rows, and -1
// too when no filter can be written.
long WriteFilter(const SearchOptions& options, const registry::HolderFilter& filter, std::FILE* out,
                 std::FILE* err) {
  registry::RegistryTables tables;
  if (!LoadTables("search", options.prefixes, &tables, err)) return -2;
  std::vector<registry::AddressBlock> blocks;
  registry::ForEachAssignment(tables, [&](const registry::Match& m) {
    if (registry::AnyHolderMatches(filter, m)) blocks.push_back({registry::FirstAddress(m), m.bits});
  });
  if (blocks.empty()) return 0;
  const registry::FilterText built = registry::BuildFilter(blocks, *options.filter, options.direction, options.text);
  if (!built.error.empty()) {
    std::fprintf(err, "vessarine-cli search: %s\n", built.error.c_str());
    return -1;
  }
  std::fwrite(built.text.data(), 1, built.text.size(), out);
  return Flushed("search", out, err) ? static_cast<long>(blocks.size()) : -1;
}

}  // namespace

int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err) {
  const registry::HolderFilter filter(options.text);
  const long rows = options.filter ? WriteFilter(options, filter, out, err)
                                   : WriteAssignments("search", options.format, &filter, options.prefixes, out, err);
  if (rows == -2) return kExitPrefixes;
  if (rows == 0) {
    std::fprintf(err, "vessarine-cli search: no holder's name contains \"%s\"\n",
                 registry::DisplayText(options.text).c_str());
  }
  return rows > 0 ? 0 : 1;
}
