// The update from a terminal: the same download and conversion threads as
// the dialog, with the messages printed instead of shown in boxes.
#include "update_cmd.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "vessarine/db/cache_files.h"
#include "vessarine/store/gbk.h"
#include "vessarine/db/loader.h"
#include "vessarine/listing/listing.h"
#include "vessarine/registry/refresh.h"
#include "vessarine/update/registries.h"
#include "vessarine/update/update.h"

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

registry::RefreshResult NotUpdated(const std::string& source) {
  registry::RefreshResult result;
  result.registry = registry::Registry::MaL;
  result.status = registry::RefreshResult::Status::Kept;
  result.source = source;
  result.reason = "was not taken: the database update did not complete";
  return result;
}

// Whether the store's own conversion should read this listing file: the text
// form of the MA-L listing, or a file that does not say which registry it
// lists (which the conversion reads as it always has). Another registry's
// listing, or the CSV form, would convert into wrong or no records.
bool ForTheStore(const std::string& path) {
  ReadOnlyFile file;
  std::string head;
  // Opening never blocks (a FIFO); what cannot be read, the conversion reports.
  if (ReadOnlyFile::Open(path, registry::kMaxListingBytes, file, true) != ReadOnlyFile::Status::Ok || !file.ReadAll(head)) {
    return true;
  }
  if (head.find("Registry,Assignment") != std::string::npos) return false;
  const std::optional<registry::Registry> r = registry::RegistryOfListing(head);
  return !r || *r == registry::Registry::MaL;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace

int RunUpdate(const UpdateOptions& options) {
  TerminalUi ui;
  ConvertOptions convert;
  bool completed = true;
  std::vector<registry::RefreshResult> results;
  if (!options.from.empty()) {
    // The user's own files: read, never deleted.
    convert.deleteListing = false;
    convert.waitForDownload = false;
    const bool folder = IsDirectory(options.from);
    convert.listingPath = folder ? options.from + "/oui.txt" : options.from;
    if (folder ? std::filesystem::exists(convert.listingPath) : ForTheStore(options.from)) {
      completed = ConvertThreadProc(ui, convert);
    }
    results = RefreshRegistriesFromPath(options.from);
    const bool anyListing = std::any_of(results.begin(), results.end(), [](const registry::RefreshResult& r) {
      return r.status != registry::RefreshResult::Status::Absent;
    });
    if (folder && !anyListing && !std::filesystem::exists(convert.listingPath)) {
      std::fprintf(stderr, "%s holds none of the registry listings (oui.txt, mam.txt, oui36.txt, iab.txt, cid.txt or .csv)\n",
                   options.from.c_str());
      return 1;
    }
  } else {
    const std::string site = options.site.empty() ? kRegistrySite : options.site;
    std::string address = options.url;
    if (address.empty()) {
      address = options.site.empty() ? ListingUrl(std::time(nullptr))
                                     : RegistryListingUrl(registry::Registry::MaL, site);
    }
    convert.listingPath = NewListingPath();
    convert.afterCompleted = [&results](std::string_view listing) {
      results.push_back(RefreshRegistryFromListing(registry::Registry::MaL, listing));
    };
    std::thread download = LaunchDownloadThread(address, convert.listingPath);
    completed = ConvertThreadProc(ui, convert);
    download.join();
    if (!completed) results.push_back(NotUpdated(address));
    for (registry::Registry r : registry::kAllRegistries) {
      if (r != registry::Registry::MaL) results.push_back(DownloadRegistry(r, RegistryListingUrl(r, site)));
    }
  }
  bool noneKept = true;
  for (const registry::RefreshResult& result : results) {
    std::fprintf(stderr, "%s\n", registry::Describe(result).c_str());
    if (result.status == registry::RefreshResult::Status::Kept) noneKept = false;
  }
  return completed && noneKept ? 0 : 1;
}
