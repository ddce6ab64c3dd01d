#include "search_cmd.h"

#include "tables_cmd.h"
#include "vessarine/text/escape.h"

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
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "vessarine-cli %s: cannot write the output\n", command);
    return -1;
  }
  return rows;
}

int RunSearch(const SearchOptions& options, std::FILE* out, std::FILE* err) {
  const answer::HolderFilter filter(options.text);
  const long rows = WriteAssignments("search", options.format, &filter, options.prefixes, out, err);
  if (rows == -2) return kExitPrefixes;
  if (rows == 0) {
    std::fprintf(err, "vessarine-cli search: no holder's name contains \"%s\"\n",
                 text::DisplayText(options.text).c_str());
  }
  return rows > 0 ? 0 : 1;
}
