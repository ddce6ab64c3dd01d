// The update from a terminal: the same update as the dialog's, with the
// messages printed instead of shown in boxes.
#include "update_cmd.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "vessarine/db/loader.h"
#include "vessarine/update/table_refresh.h"
#include "vessarine/registry/tables.h"
#include "vessarine/store/gbk.h"
#include "vessarine/update/update.h"
#include "vessarine/update/update_texts.h"

namespace {

using listing::Registry;
using update::RefreshResult;

// "4.2 MB" and the like.
std::string Size(double bytes) {
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.0f kB", bytes / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024 * 1024));
  }
  return text;
}

// Every call runs on the calling thread and returns at once, which is all
// the conversion thread waits for. On a terminal, one line per listing tells
// how its download goes, redrawn in place; elsewhere only outcomes are told.
class TerminalUi : public UpdateUi {
 public:
  explicit TerminalUi(bool quiet) : quiet_(quiet), live_(!quiet && isatty(STDERR_FILENO) == 1) {
    for (auto& t : total_) t.store(-1);
  }

  // Called from the download threads.
  void Progress(Registry r, uint64_t received, int64_t total) {
    received_[static_cast<size_t>(r)].store(received, std::memory_order_relaxed);
    total_[static_cast<size_t>(r)].store(total, std::memory_order_relaxed);
  }

  void StepProgress() override {
    if (live_ && ++steps_ % 10 == 0) Draw();  // ten times a second
  }
  void SetProgressPos(int) override {
    if (live_) Draw();
  }
  void ShowMessage(const char* caption, const char* text) override {
    if (quiet_ && std::string_view(caption) != kCaptionUpdateFailed) return;
    const std::string utf8 = GbkToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void SetVersionText(const std::string& text) override { g_strDbVersion = text; }

 private:
  void Draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count() + 1e-9;
    std::string text = drawn_ ? "\033[5A" : "";
    for (Registry r : listing::kAllRegistries) {
      const double received = static_cast<double>(received_[static_cast<size_t>(r)].load(std::memory_order_relaxed));
      const int64_t total = total_[static_cast<size_t>(r)].load(std::memory_order_relaxed);
      text += "\r\033[K" + std::string(listing::Info(r).name) + ": " + Size(received);
      if (total > 0) text += " of " + Size(static_cast<double>(total));
      text += ", " + Size(received / seconds) + "/s\n";
    }
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = true;
  }

  const bool quiet_;
  const bool live_;
  long steps_ = 0;
  bool drawn_ = false;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::array<std::atomic<uint64_t>, 5> received_{};
  std::array<std::atomic<int64_t>, 5> total_{};
};

// Each assignment the update changed: "+ 002272 New Holder",
// "- 002273 Old Holder", "~ 002274 Old Holder -> New Holder".
void PrintChanges(const RefreshResult& result) {
  for (const update::TableChange& c : result.changes) {
    const std::string digits = registry::AssignmentText(result.registry, c.prefix);
    const std::string name(listing::Info(result.registry).name);
    if (c.before.empty()) {
      std::printf("%s + %s %s\n", name.c_str(), digits.c_str(), c.after.c_str());
    } else if (c.after.empty()) {
      std::printf("%s - %s %s\n", name.c_str(), digits.c_str(), c.before.c_str());
    } else {
      std::printf("%s ~ %s %s -> %s\n", name.c_str(), digits.c_str(), c.before.c_str(), c.after.c_str());
    }
  }
}

}  // namespace

int RunUpdate(const UpdateOptions& options) {
  TerminalUi ui(options.quiet);
  UpdateSource source = options.source;
  source.conditional = source.from.empty() && !source.force;
  source.listChanges = options.changes;
  source.progress = [&ui](Registry r, uint64_t received, int64_t total) { ui.Progress(r, received, total); };
  std::vector<RefreshResult> results;
  const bool completed = RunUpdateHere(ui, source, &results);
  bool noneKept = true;
  bool storeTried = false;
  for (const RefreshResult& result : results) {
    const bool kept = result.status == RefreshResult::Status::Kept;
    if (!options.quiet || kept) std::fprintf(stderr, "%s\n", update::Summary(result).c_str());
    if (options.changes) PrintChanges(result);
    noneKept = noneKept && !kept;
    storeTried = storeTried || (result.registry == Registry::MaL && result.status != RefreshResult::Status::Unchanged);
  }
  return (completed || !storeTried) && noneKept && !results.empty() ? 0 : 1;
}
