#include "lookup_cmd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "tables_cmd.h"
#include "vessarine/db/cache_files.h"
#include "vessarine/answer/describe.h"
#include "vessarine/text/escape.h"

namespace {

// A line longer than an identifier can be is counted rather than held.
constexpr size_t kMaxAddressLine = engine::kMaxIdentifierText;
// A line longer than this means the input is no list of addresses
// (/dev/zero, a binary file): reading stops rather than going on for ever.
constexpr size_t kMaxLine = 1u << 20;
constexpr size_t kReadSize = 64u << 10;
constexpr size_t kOutputFlush = 64u << 10;
// Blank lines are not inputs.
constexpr std::string_view kBlanks = " \t\r";

// A line past kMaxAddressLine: its start, its length so far, and whether
// it has been all blanks.
struct LongLine {
  std::string start;
  size_t size = 0;
  bool blank = true;

  void Add(std::string_view part) {
    if (start.size() < engine::kQuotedStart) start.append(part.substr(0, engine::kQuotedStart - start.size()));
    size += part.size();
    blank = blank && part.find_first_not_of(kBlanks) == std::string_view::npos;
  }
};

class Lookup {
 public:
  Lookup(const LookupOptions& options, std::FILE* out, std::FILE* err) : options_(options), out_(out), err_(err) {}

  // `stream`: addresses will be read from stdin, perhaps for hours.
  bool Start(bool stream) {
    engine_ = OpenEngine("lookup", options_.prefixes, err_, stream);
    if (!engine_) return false;
    if (options_.format == LookupOptions::Format::Csv) text_ += answer::CsvHeader();
    return true;
  }

  void One(std::string_view input) {
    engine_->Lookup(input, {options_.wwn}, &answer_);
    Answer(input, answer_);
  }

  void Answer(std::string_view input, const engine::Answer& answer) {
    if (!answer.description) {
      Reject(answer.Input(input), answer.error);
      return;
    }
    const answer::Description& d = *answer.description;
    switch (options_.format) {
      case LookupOptions::Format::Json:
        text_ += '{';
        answer::AppendJsonMembers(&text_, input, d);
        text_ += "}\n";
        break;
      case LookupOptions::Format::Csv: answer::AppendCsvRow(&text_, input, d); break;
      case LookupOptions::Format::Text:
        if (blocks_++ != 0) text_ += '\n';
        answer::AppendTextBlock(&text_, input, d);
        break;
    }
    if (text_.size() >= kOutputFlush) Flush();
  }

  // Addresses one a line, a block at a time, in bounded memory whatever
  // the lines' lengths. From a pipe, a terminal or a socket each answer
  // goes out before the next input is waited for; a regular file is
  // answered in big blocks.
  void Stdin() {
    struct stat st;
    const bool file = ::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    std::unique_ptr<char[]> buffer(new char[kReadSize]);
    size_t held = 0;  // bytes of a line not ended yet, at the front
    LongLine longLine;
    uint64_t line = 1;
    for (;;) {
      if (!file) Flush(true);
      const ssize_t n = ::read(STDIN_FILENO, buffer.get() + held, kReadSize - held);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        // A line cut short by the error is not looked up: it could read
        // as another address.
        return Failed("cannot read the standard input: " + std::string(std::strerror(errno)));
      }
      if (n == 0) break;
      const char* p = buffer.get();
      const char* end = p + held + static_cast<size_t>(n);
      for (; const void* nl = std::memchr(p, '\n', static_cast<size_t>(end - p)); ++line) {
        const char* e = static_cast<const char*>(nl);
        const std::string_view text(p, static_cast<size_t>(e - p));
        p = e + 1;
        if (longLine.size == 0) {
          Line(text);
        } else if (!EndLong(&longLine, text, line)) {
          return;
        }
      }
      held = static_cast<size_t>(end - p);
      if (longLine.size != 0 || held > kMaxAddressLine) {
        longLine.Add(std::string_view(p, held));
        held = 0;
        if (longLine.size > kMaxLine) return TooLong(line);
      }
      std::memmove(buffer.get(), p, held);
    }
    if (longLine.size != 0) {
      EndLong(&longLine, {}, line);
    } else if (held != 0) {
      Line(std::string_view(buffer.get(), held));
    }
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
    if (line.find_first_not_of(kBlanks) == std::string_view::npos) return;
    if (line.back() == '\r') line.remove_suffix(1);
    One(line);
  }

  // Ends an overlong line with its last part; false when it was too long
  // to go on.
  bool EndLong(LongLine* longLine, std::string_view last, uint64_t line) {
    longLine->Add(last);
    if (longLine->size > kMaxLine) {
      TooLong(line);
      return false;
    }
    if (!longLine->blank) RejectLong(*longLine);
    *longLine = LongLine();
    return true;
  }

  void RejectLong(const LongLine& longLine) {
    Answer({}, engine::OverlongAnswer(longLine.start, longLine.size));
  }

  void TooLong(uint64_t line) {
    Failed("line " + std::to_string(line) + " is longer than 1 MiB; not a list of addresses");
  }

  // An input that is no address: an error row, or a message in text.
  void Reject(std::string_view input, std::string_view error) {
    ok_ = false;
    switch (options_.format) {
      case LookupOptions::Format::Json: answer::AppendJsonError(&text_, input, error); break;
      case LookupOptions::Format::Csv: answer::AppendCsvError(&text_, input, error); break;
      case LookupOptions::Format::Text:
        Flush();
        std::fprintf(err_, "vessarine-cli lookup: \"%s\": %.*s\n", text::DisplayText(input).c_str(),
                     static_cast<int>(error.size()), error.data());
        break;
    }
  }

  // A message that ends the reading, after the answers before it.
  void Failed(const std::string& message) {
    ok_ = false;
    Flush(true);
    std::fprintf(err_, "vessarine-cli lookup: %s\n", message.c_str());
  }

  // `now`: through the stream too, for whoever waits on the other end.
  void Flush(bool now = false) {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
    if (now) std::fflush(out_);
  }

  const LookupOptions& options_;
  std::FILE* out_;
  std::FILE* err_;
  std::unique_ptr<engine::Engine> engine_;
  engine::Answer answer_;  // the last input's, kept for its strings
  std::string text_;
  size_t blocks_ = 0;
  bool ok_ = true;
};

}  // namespace

int RunLookup(const LookupOptions& options, std::FILE* out, std::FILE* err) {
  Lookup lookup(options, out, err);
  const bool stream =
      std::find(options.addresses.begin(), options.addresses.end(), "-") != options.addresses.end();
  // A stream holds its own copy of the tables; a one-shot answer reads them
  // in place under the lease, which lasts longer than it does.
  if (stream) SetCacheHold(CacheHold::PrivateCopy);
  if (!lookup.Start(stream)) return kExitPrefixes;
  for (const std::string& address : options.addresses) {
    if (address == "-") {
      lookup.Stdin();
    } else {
      lookup.One(address);
    }
  }
  return lookup.Finish();
}
