// The update after the download: reading and converting the listing, putting
// the new store in place and committing it as the cache files.
#include "vessarine/update/update.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/listing/convert.h"
#include "vessarine/listing/listing.h"
#include "vessarine/update/registries.h"
#include "vessarine/update/update_texts.h"

std::atomic<uint8_t> g_bRefreshPending{0};
std::atomic<uint8_t> g_bUpdateRunning{0};

namespace {

// Steps the progress bar while the download runs; true when it succeeded.
bool WaitForDownload(UpdateUi& ui) {
  // The download thread has raised its flag before this thread started.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  while (g_bDownloading.load(std::memory_order_acquire) != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ui.StepProgress();
  }
  ui.SetProgressPos(1000);
  return g_bDownloadOk.load(std::memory_order_acquire) != 0;
}

// The listing, open for reading: a regular file (the user's own may be
// reached through a link), opened without blocking on a FIFO or a device.
std::optional<ReadOnlyFile> OpenListing(const std::string& path) {
  ReadOnlyFile file;
  if (ReadOnlyFile::Open(path, SIZE_MAX, file, true) != ReadOnlyFile::Status::Ok) return std::nullopt;
  return file;
}

// The whole listing converted into a new store; null when it cannot be read
// or is refused. `raw`, when given, keeps the listing as read.
StorePtr ReadAndConvert(const ReadOnlyFile& listing, std::string* raw) {
  try {
    std::string text;
    if (listing.size() > registry::kMaxListingBytes || !listing.ReadAll(text)) return nullptr;
    if (raw != nullptr) *raw = text;
    return registry::ConvertListing(text);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

std::string VersionText(const std::tm& local) {
  char text[64];
  std::snprintf(text, sizeof text, kVersionDateFormat, local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

bool ConvertThreadProc(UpdateUi& ui, const ConvertOptions& options) {
  if (options.waitForDownload && !WaitForDownload(ui)) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgDownloadFailed);
    return false;
  }
  std::optional<ReadOnlyFile> listing = OpenListing(options.listingPath);
  if (!listing) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgListingUnreadable);
    return false;
  }
  ui.ShowMessage(kCaptionUpdate, kMsgDownloadDone);

  // The new store is built aside; the loaded one stays in use until it is
  // swapped in whole, and stays as it is when the listing is refused.
  std::string raw;
  const StorePtr store = ReadAndConvert(*listing, options.afterCompleted ? &raw : nullptr);
  listing.reset();
  if (!store) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
    return false;
  }
  ReplaceStore(store);
  if (options.deleteListing) unlink(options.listingPath.c_str());

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string version = VersionText(local);
  // Written from this update's own snapshot: whatever the window does with
  // the store meanwhile (the exit button releases it), the cache gets the
  // listing just converted.
  if (!CommitCacheSet(*store, version, options.lockWait)) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
    return false;
  }
  ui.SetVersionText(version);
  g_bRefreshPending.store(1, std::memory_order_release);
  ui.ShowMessage(kCaptionUpdate, kMsgUpdateDone);
  if (options.afterCompleted) options.afterCompleted(raw);
  return true;
}

bool StartUpdateThreads(UpdateUi& ui, const std::string& url) {
  uint8_t idle = 0;
  if (!g_bUpdateRunning.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) {
    return false;
  }
  try {
    ConvertOptions options;
    options.listingPath = NewListingPath();
    options.afterCompleted = [](std::string_view listing) { RefreshRegistryFromListing(registry::Registry::MaL, listing); };
    LaunchDownloadThread(url, options.listingPath).detach();
    std::thread([&ui, options] {
      try {
        ConvertThreadProc(ui, options);
      } catch (...) {
        // Nothing to tell: the user interface itself failed.
      }
      g_bUpdateRunning.store(0, std::memory_order_release);
    }).detach();
  } catch (...) {
    // No conversion thread: the update is not running. A download thread
    // that did start ends on its own and only leaves its temporary file.
    g_bUpdateRunning.store(0, std::memory_order_release);
    return false;
  }
  return true;
}
