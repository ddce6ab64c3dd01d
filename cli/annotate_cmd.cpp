#include "annotate_cmd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "vessarine/answer/describe.h"
#include "vessarine/text/escape.h"
#include "vessarine/identifier/scanner.h"
#include "tables_cmd.h"
#include "vessarine/registry/tables.h"

namespace {

// Input is taken this much at a time; with the output buffer it bounds the
// memory used whatever the input's size or line lengths.
constexpr size_t kBufferSize = 1u << 20;
constexpr size_t kOutputFlush = 256u << 10;

class Annotator {
 public:
  Annotator(const registry::RegistryTables& tables, bool json, std::FILE* out)
      : tables_(tables), json_(json), out_(out), buffer_(new char[kBufferSize]) {
    text_.reserve(kOutputFlush + 4096);
  }

  // Annotates one stream; false (with the reason) when it cannot be read.
  bool Stream(int fd, std::string* problem) {
    size_ = 0;
    before_ = -1;
    base_ = counted_ = lineStart_ = 0;
    line_ = 1;
    for (;;) {
      bool shortRead = false;
      const bool end = !Fill(fd, problem, &shortRead);
      const size_t to = Settled(end);
      if (to == 0 && !end) continue;
      const size_t stop = Annotate(to);
      if (end) break;
      // A pipe that had no more to give: show what is done (ip neigh,
      // tail -f) rather than wait for a full buffer.
      if (shortRead) {
        Flush();
        std::fflush(out_);
      }
      Keep(stop);
    }
    Flush();
    return problem->empty();
  }

  bool Finish() {
    Flush();
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  // Reads on after the bytes held; false at the stream's end and after a
  // read error (*problem says which; what was read so far still goes out).
  bool Fill(int fd, std::string* problem, bool* shortRead) {
    for (;;) {
      const ssize_t n = ::read(fd, buffer_.get() + size_, kBufferSize - size_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *problem = std::strerror(errno);
        return false;
      }
      *shortRead = static_cast<size_t>(n) < kBufferSize - size_;
      size_ += static_cast<size_t>(n);
      return n != 0;
    }
  }

  // How much of the buffer can be settled now. Addresses never span lines,
  // so everything up to the last line end; a line still arriving keeps the
  // lookahead back.
  size_t Settled(bool end) const {
    if (end) return size_;
    size_t to = size_ > identifier::kScanLookahead ? size_ - identifier::kScanLookahead : 0;
    if (const void* nl = ::memrchr(buffer_.get(), '\n', size_)) {
      to = std::max(to, static_cast<size_t>(static_cast<const char*>(nl) - buffer_.get()) + 1);
    }
    return to;
  }

  // Labels (or lists, in JSON) the addresses starting in buffer_[0, to),
  // with the text between them; returns where the scan stopped.
  size_t Annotate(size_t to) {
    const char* const buf = buffer_.get();
    size_t written = 0;
    const size_t stop = identifier::ScanAddresses(
        buf, 0, to, size_, before_, [&](size_t pos, size_t length, const identifier::ParsedAddress& address) {
          const answer::Description d = answer::Describe(tables_, address);
          if (json_) {
            JsonFind(pos, length, d);
          } else {
            text_.append(buf + written, pos + length - written);
            answer::AppendLabel(&text_, d);
            written = pos + length;
          }
          if (text_.size() >= kOutputFlush) Flush();
        });
    if (json_) {
      CountLines(stop);
    } else {
      text_.append(buf + written, stop - written);
    }
    if (text_.size() >= kOutputFlush) Flush();
    return stop;
  }

  void JsonFind(size_t pos, size_t length, const answer::Description& d) {
    CountLines(pos);
    const std::string_view found(buffer_.get() + pos, length);
    text_ += '{';
    answer::AppendJsonMembers(&text_, found, d);
    text_ += ",\"line\":" + std::to_string(line_) +
             ",\"column\":" + std::to_string(base_ + pos - lineStart_ + 1) + ",\"text\":";
    text::AppendJsonString(&text_, found);
    text_ += "}\n";
  }

  // Counts the line ends before buffer_[upTo] not counted yet.
  void CountLines(size_t upTo) {
    const char* const buf = buffer_.get();
    const char* p = buf + (counted_ - base_);
    const char* const stop = buf + upTo;
    while (const void* nl = p < stop ? std::memchr(p, '\n', static_cast<size_t>(stop - p)) : nullptr) {
      p = static_cast<const char*>(nl) + 1;
      ++line_;
      lineStart_ = base_ + static_cast<uint64_t>(p - buf);
    }
    counted_ = base_ + upTo;
  }

  // Lets the settled bytes go, what follows them moved to the front.
  void Keep(size_t stop) {
    char* const buf = buffer_.get();
    if (stop > 0) before_ = static_cast<unsigned char>(buf[stop - 1]);
    std::memmove(buf, buf + stop, size_ - stop);
    base_ += stop;
    size_ -= stop;
  }

  void Flush() {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  const registry::RegistryTables& tables_;
  const bool json_;
  std::FILE* out_;
  std::unique_ptr<char[]> buffer_;
  std::string text_;
  // The stream being read: bytes held, the byte before buffer_[0] (-1 at
  // the start), the stream offsets of buffer_[0], of where line ends are
  // counted up to and of the current line's start, and its number.
  size_t size_ = 0;
  int before_ = -1;
  uint64_t base_ = 0, counted_ = 0, lineStart_ = 0, line_ = 1;
};

}  // namespace

int RunAnnotate(const AnnotateOptions& options, std::FILE* out, std::FILE* err) {
  registry::RegistryTables tables;
  if (!LoadTables("annotate", options.prefixes, &tables, err)) return kExitPrefixes;
  Annotator annotator(tables, options.json, out);
  int status = 0;
  std::vector<std::string> files = options.files;
  if (files.empty()) files.push_back("-");
  for (const std::string& file : files) {
    std::string problem;
    if (file == "-") {
      if (!annotator.Stream(STDIN_FILENO, &problem)) {
        std::fprintf(err, "vessarine-cli annotate: cannot read the standard input: %s\n", problem.c_str());
        status = 1;
      }
      continue;
    }
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
    if (fd < 0) {
      std::fprintf(err, "vessarine-cli annotate: cannot read %s: %s\n", text::DisplayText(file).c_str(),
                   std::strerror(errno));
      status = 1;
      continue;
    }
    if (!annotator.Stream(fd, &problem)) {
      std::fprintf(err, "vessarine-cli annotate: cannot read %s: %s\n", text::DisplayText(file).c_str(),
                   problem.c_str());
      status = 1;
    }
    ::close(fd);
  }
  if (!annotator.Finish()) {
    std::fputs("vessarine-cli annotate: cannot write the output\n", err);
    return 1;
  }
  return status;
}
