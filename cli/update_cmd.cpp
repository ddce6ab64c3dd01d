// The update from a terminal: the same download and conversion threads as
// the dialog, with the messages printed instead of shown in boxes.
#include "cli/update_cmd.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <thread>

#include "db/gbk.h"
#include "db/loader.h"
#include "update/update.h"

namespace {

constexpr char kUpdateUsage[] =
    "usage: vessarine-cli update [--url URL]\n"
    "       vessarine-cli update --from FILE\n";

// Every call runs on the calling thread and returns at once, which is all
// the conversion thread waits for.
class TerminalUi : public UpdateUi {
 public:
  void StepProgress() override {
    // One dot a second (a step comes every 10 ms).
    if (++steps_ % 100 == 0) {
      std::fputc('.', stderr);
      std::fflush(stderr);
      dots_ = true;
    }
  }
  void SetProgressPos(int) override {
    if (dots_) std::fputc('\n', stderr);
    dots_ = false;
  }
  void ShowMessage(const char*, const char* text) override {
    const std::string utf8 = GbkToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void SetVersionText(const std::string& text) override { g_strDbVersion = text; }

 private:
  long steps_ = 0;
  bool dots_ = false;
};

int UsageError() {
  std::fputs(kUpdateUsage, stderr);
  return 2;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv) {
  const char* url = nullptr;
  const char* from = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--url" || arg == "--from") && i + 1 < argc) {
      const char*& target = arg == "--url" ? url : from;
      if (target != nullptr) return UsageError();
      target = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUpdateUsage, stdout);
      return 0;
    } else {
      return UsageError();
    }
  }
  if (url != nullptr && from != nullptr) return UsageError();
  if ((url != nullptr && *url == '\0') || (from != nullptr && *from == '\0')) return UsageError();

  TerminalUi ui;
  ConvertOptions options;
  bool completed = false;
  if (from != nullptr) {
    // The user's own file: read, never deleted.
    options.listingPath = from;
    options.deleteListing = false;
    options.waitForDownload = false;
    completed = ConvertThreadProc(ui, options);
  } else {
    const std::string address = url != nullptr ? std::string(url) : ListingUrl(std::time(nullptr));
    options.listingPath = NewListingPath();
    std::thread download = LaunchDownloadThread(address, options.listingPath);
    completed = ConvertThreadProc(ui, options);
    download.join();
  }
  return completed ? 0 : 1;
}
