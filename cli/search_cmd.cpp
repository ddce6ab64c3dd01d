#include "search_cmd.h"

#include <vector>

#include "tables_cmd.h"
#include "vessarine/text/escape.h"

namespace {

// Whether everything written to `out` reached it; said on `err` when not.
bool Flushed(const char* command, std::FILE* out, std::FILE* err) {
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  std::fprintf(err, "vessarine-cli %s: cannot write the output\n", command);
  return false;
}

}  // namespace

long WriteAssignments(const char* command, answer::RowFormat format, const answer::HolderFilter* filter,
                      const std::string& prefixes, std::FILE* out, std::FILE* err) {
  const auto engine = OpenEngine(command, prefixes, err);
  if (!engine) return -2;
  std::string text;
  if (format == answer::RowFormat::Csv) text += answer::AssignmentCsvHeader();
  long rows = 0;
  engine->ForEachAssignment(filter, [&](const registry::Match& m) {
    answer::AppendAssignmentRow(&text, format, m);
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
long WriteFilter(const SearchOptions& options, const answer::HolderFilter& filter, std::FILE* out,
                 std::FILE* err) {
  const auto engine = OpenEngine("search", options.prefixes, err);
  if (!engine) return -2;
  std::vector<answer::AddressBlock> blocks;
  engine->ForEachAssignment(&filter, [&](const registry::Match& m) { blocks.push_back({answer::FirstAddress(m), m.bits}); });
  if (blocks.empty()) return 0;
  const answer::FilterText built = answer::BuildFilter(blocks, *options.filter, options.direction, options.text);
  if (!built.error.empty()) {
    std::fprintf(err, "vessarine-cli search: %s\n", built.error.c_str());
    return -1;
  }
  std::fwrite(built.text.data(), 1, built.text.size(), out);
  return Flushed("search", out, err) ? static_cast<long>(blocks.size()) : -1;
}

}  // namespace

int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err) {
  const answer::HolderFilter filter(options.text);
  const long rows = options.filter ? WriteFilter(options, filter, out, err)
                                   : WriteAssignments("search", options.format, &filter, options.prefixes, out, err);
  if (rows == -2) return kExitPrefixes;
  if (rows == 0) {
    std::fprintf(err, "vessarine-cli search: no holder's name contains \"%s\"\n",
                 text::DisplayText(options.text).c_str());
  }
  return rows > 0 ? 0 : 1;
}
