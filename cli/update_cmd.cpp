// The update from a terminal: the same download and conversion threads as
// the dialog, with the messages printed instead of shown in boxes.
#include "cli/update_cmd.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>

#include "db/gbk.h"
#include "db/loader.h"
#include "update/update.h"

namespace {

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

// A folder stands for the registry listing it holds under its usual name.
std::string ListingPath(const std::string& from) {
  std::error_code ec;
  if (std::filesystem::is_directory(from, ec)) return from + "/oui.txt";
  return from;
}

}  // namespace

int RunUpdate(const UpdateOptions& options) {
  TerminalUi ui;
  ConvertOptions convert;
  bool completed = false;
  if (!options.from.empty()) {
    // The user's own file: read, never deleted.
    convert.listingPath = ListingPath(options.from);
    convert.deleteListing = false;
    convert.waitForDownload = false;
    completed = ConvertThreadProc(ui, convert);
  } else {
    const std::string address = options.url.empty() ? ListingUrl(std::time(nullptr)) : options.url;
    convert.listingPath = CachePath(kListingTempFile);
    std::thread download = LaunchDownloadThread(address);
    completed = ConvertThreadProc(ui, convert);
    download.join();
  }
  return completed ? 0 : 1;
}
