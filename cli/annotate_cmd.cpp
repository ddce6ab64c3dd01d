#include "annotate_cmd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "vessarine/registry/describe.h"
#include "vessarine/registry/escape.h"
#include "vessarine/registry/scanner.h"
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
    size_t size = 0;
    int before = -1;
    uint64_t base = 0;      // stream offset of buffer_[0]
    uint64_t counted = 0;   // stream offset up to which line ends are counted
    uint64_t line = 1, lineStart = 0;
    char* const buf = buffer_.get();
    for (;;) {
      ssize_t n = ::read(fd, buf + size, kBufferSize - size);
      if (n < 0) {
        if (errno == EINTR) continue;
        *problem = std::strerror(errno);
        // What was read so far still goes out.
        n = 0;
      }
      const bool end = n == 0;
      const bool shortRead = static_cast<size_t>(n) < kBufferSize - size;
      size += static_cast<size_t>(n);
      // Addresses never span lines, so everything up to the last line end
      // can be settled now; a line still arriving keeps the lookahead back.
      size_t to = end ? size : (size > registry::kScanLookahead ? size - registry::kScanLookahead : 0);
      if (!end) {
        if (const void* nl = ::memrchr(buf, '\n', size)) {
          to = std::max(to, static_cast<size_t>(static_cast<const char*>(nl) - buf) + 1);
        }
      }
      if (to == 0 && !end) continue;
      size_t written = 0;
      auto countLines = [&](size_t upTo) {
        const char* p = buf + (counted - base);
        const char* stop = buf + upTo;
        while (p < stop) {
          const void* nl = std::memchr(p, '\n', static_cast<size_t>(stop - p));
          if (nl == nullptr) break;
          p = static_cast<const char*>(nl) + 1;
          ++line;
          lineStart = base + static_cast<uint64_t>(p - buf);
        }
        counted = base + upTo;
      };
      const size_t stop = registry::ScanAddresses(
          buf, 0, to, size, before, [&](size_t pos, size_t length, uint64_t value, registry::Derivation derived) {
            registry::ParsedAddress address;
            address.value = value;
            address.derivedFrom = derived;
            const registry::Description d = registry::Describe(tables_, address);
            const std::string_view found(buf + pos, length);
            if (json_) {
              countLines(pos);
              text_ += '{';
              registry::AppendJsonMembers(&text_, found, d);
              text_ += ",\"line\":" + std::to_string(line) +
                       ",\"column\":" + std::to_string(base + pos - lineStart + 1) + ",\"text\":";
              registry::AppendJsonString(&text_, found);
              text_ += "}\n";
            } else {
              text_.append(buf + written, pos + length - written);
              registry::AppendLabel(&text_, d);
              written = pos + length;
            }
            if (text_.size() >= kOutputFlush) Flush();
          });
      if (json_) {
        countLines(stop);
      } else {
        text_.append(buf + written, stop - written);
        if (text_.size() >= kOutputFlush) Flush();
      }
      if (end) break;
      // A pipe that had no more to give: show what is done (ip neigh,
      // tail -f) rather than wait for a full buffer.
      if (shortRead) {
        Flush();
        std::fflush(out_);
      }
      before = stop > 0 ? static_cast<unsigned char>(buf[stop - 1]) : before;
      std::memmove(buf, buf + stop, size - stop);
      base += stop;
      size -= stop;
    }
    Flush();
    return problem->empty();
  }

  bool Finish() {
    Flush();
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  void Flush() {
    if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), out_);
    text_.clear();
  }

  const registry::RegistryTables& tables_;
  const bool json_;
  std::FILE* out_;
  std::unique_ptr<char[]> buffer_;
  std::string text_;
};

}  // namespace

int RunAnnotate(const AnnotateOptions& options, std::FILE* out, std::FILE* err) {
  registry::RegistryTables tables;
  tables.Load(err);
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
      std::fprintf(err, "vessarine-cli annotate: cannot read %s: %s\n", registry::DisplayText(file).c_str(),
                   std::strerror(errno));
      status = 1;
      continue;
    }
    if (!annotator.Stream(fd, &problem)) {
      std::fprintf(err, "vessarine-cli annotate: cannot read %s: %s\n", registry::DisplayText(file).c_str(),
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
