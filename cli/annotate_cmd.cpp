#include "annotate_cmd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "tables_cmd.h"
#include "vessarine/engine/finder.h"
#include "vessarine/text/escape.h"

namespace {

// Reads streams into the engine's finder and writes what its writer makes
// of them.
template <class Writer>
class Annotator {
 public:
  Annotator(const engine::Engine& engine, std::FILE* out) : out_(out), finder_(engine, writer_) {
    writer_.text.reserve(Writer::kFlushAt + 4096);
    writer_.flush = [this](std::string& text) { Flush(text); };
  }

  // Annotates one stream; false (with the reason) when it cannot be read
  // (what was read so far still goes out).
  bool Stream(int fd, std::string* problem) {
    finder_.Start();
    for (;;) {
      const std::span<char> room = finder_.Room();
      const ssize_t n = ::read(fd, room.data(), room.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) *problem = std::strerror(errno);
      finder_.Took(n > 0 ? static_cast<size_t>(n) : 0);
      if (n <= 0) break;
      // A pipe that had no more to give: show what is done (ip neigh,
      // tail -f) rather than wait for a full buffer.
      if (static_cast<size_t>(n) < room.size()) {
        Flush(writer_.text);
        std::fflush(out_);
      }
    }
    Flush(writer_.text);
    return problem->empty();
  }

  bool Finish() {
    Flush(writer_.text);
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  void Flush(std::string& text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out_);
    text.clear();
  }

  std::FILE* out_;
  Writer writer_;
  engine::Finder<Writer> finder_;
};

template <class Writer>
int Annotate(const AnnotateOptions& options, const engine::Engine& engine, std::FILE* out, std::FILE* err) {
  Annotator<Writer> annotator(engine, out);
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

}  // namespace

int RunAnnotate(const AnnotateOptions& options, std::FILE* out, std::FILE* err) {
  const auto engine = OpenEngine("annotate", options.prefixes, err);
  if (!engine) return kExitPrefixes;
  return options.json ? Annotate<engine::FindJsonWriter>(options, *engine, out, err)
                      : Annotate<engine::LabelWriter>(options, *engine, out, err);
}
