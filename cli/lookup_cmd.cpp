#include "lookup_cmd.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "vessarine/registry/address.h"
#include "vessarine/registry/describe.h"
#include "vessarine/registry/escape.h"
#include "vessarine/registry/tables.h"

namespace {

class Lookup {
 public:
  Lookup(const LookupOptions& options, std::FILE* out, std::FILE* err) : options_(options), out_(out), err_(err) {
    tables_.Load(err);
    if (options_.format == LookupOptions::Format::Csv) text_ += registry::CsvHeader();
  }

  void One(std::string_view input) {
    std::string error;
    auto address = registry::ParseAddress(input, &error);
    if (!address) {
      ok_ = false;
      switch (options_.format) {
        case LookupOptions::Format::Json: registry::AppendJsonError(&text_, input, error); break;
        case LookupOptions::Format::Csv: registry::AppendCsvError(&text_, input, error); break;
        case LookupOptions::Format::Text:
          Flush();
          std::fprintf(err_, "vessarine-cli lookup: \"%s\": %s\n", registry::DisplayText(input).c_str(), error.c_str());
          break;
      }
      return;
    }
    const registry::Description d = registry::Describe(tables_, *address);
    switch (options_.format) {
      case LookupOptions::Format::Json:
        text_ += '{';
        registry::AppendJsonMembers(&text_, input, d);
        text_ += "}\n";
        break;
      case LookupOptions::Format::Csv: registry::AppendCsvRow(&text_, input, d); break;
      case LookupOptions::Format::Text:
        if (blocks_++ != 0) text_ += '\n';
        registry::AppendTextBlock(&text_, input, d);
        break;
    }
    if (text_.size() >= 64 * 1024) Flush();
  }

  // Lines of any length, read a block at a time.
  void Stdin() {
    std::string buffer(1u << 16, '\0');
    size_t held = 0;  // bytes of a line not ended yet, at the front
    for (;;) {
      if (held == buffer.size()) buffer.resize(buffer.size() * 2);
      const ssize_t n = ::read(STDIN_FILENO, buffer.data() + held, buffer.size() - held);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      const char* p = buffer.data();
      const char* end = p + held + static_cast<size_t>(n);
      while (const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p))) {
        const char* e = static_cast<const char*>(nl);
        Line(std::string_view(p, static_cast<size_t>(e - p)));
        p = e + 1;
      }
      held = static_cast<size_t>(end - p);
      std::memmove(buffer.data(), p, held);
    }
    if (held != 0) Line(std::string_view(buffer.data(), held));
  }

  int Finish() {
    Flush();
    if (std::fflush(out_) != 0 || std::ferror(out_)) {
      std::fputs("vessarine-cli lookup: cannot write the output\n", err_);
      return 1;
    }
    return ok_ ? 0 : 1;
  }

 private:
  void Line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;  // blank lines are not inputs
    One(line);
  }

  void Flush() {
    std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  const LookupOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
  registry::RegistryTables tables_;
  std::string text_;
  size_t blocks_ = 0;
  bool ok_ = true;
};

}  // namespace

int RunLookup(const LookupOptions& options, std::FILE* out, std::FILE* err) {
  Lookup lookup(options, out, err);
  for (const std::string& address : options.addresses) {
    if (address == "-") {
      lookup.Stdin();
    } else {
      lookup.One(address);
    }
  }
  return lookup.Finish();
}
