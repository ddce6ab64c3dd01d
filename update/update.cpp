// The one update of every front end: where its listings come from, the
// download, and under the cache directory's lock the new store from the MA-L
// listing with its cache files, and every registry's table.
#include "vessarine/update/update.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/listing/convert.h"
#include "vessarine/listing/listing.h"
#include "vessarine/db/table_files.h"
#include "vessarine/registry/tables.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/update/registries.h"
#include "vessarine/update/update_texts.h"

std::atomic<uint8_t> g_bRefreshPending{0};
std::atomic<uint8_t> g_bUpdateRunning{0};

namespace {

using listing::Registry;
using update::RefreshResult;

constexpr size_t kMaL = static_cast<size_t>(Registry::MaL);

// Steps the progress bar while the download runs; true when it succeeded.
bool WaitForDownload(UpdateUi& ui) {
  // The download thread has raised its flag before this thread started.
  while (g_bDownloading.load(std::memory_order_acquire) != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ui.StepProgress();
  }
  ui.SetProgressPos(1000);
  return g_bDownloadOk.load(std::memory_order_acquire) != 0;
}

// The listing can be opened for reading: a regular file (the user's own may
// be reached through a link), opened without blocking on a FIFO or a device.
bool CanOpen(const std::string& path) {
  ReadOnlyFile file;
  return ReadOnlyFile::Open(path, SIZE_MAX, file, true) == ReadOnlyFile::Status::Ok;
}

RefreshResult Unchanged(Registry r, const ListingFile& file) {
  RefreshResult result;
  result.registry = r;
  result.status = RefreshResult::Status::Unchanged;
  result.source = file.source;
  result.reason = file.lastModified;
  return result;
}

// Keeps the validators of the download a table was just made from, or drops
// those of an earlier one when the table came from elsewhere.
void KeepValidators(Registry r, const ListingFile& file) {
  const char* name = kRegistryValidatorFiles[static_cast<size_t>(r)];
  if (file.etag.empty() && file.lastModified.empty()) {
    unlink(CachePath(name).c_str());
  } else {
    WriteCacheFile(name, file.etag + "\n" + file.lastModified + "\n");
  }
}

RefreshResult KeptFor(Registry r, const ListingFile& file, std::string reason) {
  RefreshResult result;
  result.registry = r;
  result.status = RefreshResult::Status::Kept;
  result.source = file.source;
  result.reason = std::move(reason);
  return result;
}


// The store's part, under the lock: the new store and the MA-L table from
// one reading of the listing, committed together. Null `store` and the
// result say why when the listing is refused or cannot be committed.
struct StoreUpdate {
  StorePtr store;
  RefreshResult result;
  bool committed = false;
};

constexpr char kBusy[] = "the cache directory is busy with another update";

// `locked`: the cache directory's lock is held, so the cache can be written.
StoreUpdate UpdateStore(const ListingFile& file, const std::string& version, const ConvertOptions& options,
                        bool locked) {
  StoreUpdate update;
  try {
    StorePtr store;
    update::PreparedTable table = update::PrepareTable(
        Registry::MaL, file.path, file.source, options.force, options.listChanges,
        [&store](const listing::ParsedListing& parsed) { store = listing::StoreFromListing(parsed); });
    update.result = table.result;
    if (table.refused()) return update;
    update.store = std::move(store);
    if (!update.store) {
      update.result = KeptFor(Registry::MaL, file, "holds '>', which the database cannot keep");
      return update;
    }
    // In use from now on, whether or not the cache files can be written.
    ReplaceStore(update.store);
    update.committed = locked && CommitCacheSet(*update.store, version,
                                                {{db::TableFile(Registry::MaL), table.image}});
    update.result.status = update.committed ? RefreshResult::Status::Updated : RefreshResult::Status::Kept;
    if (!update.committed) update.result.reason = locked ? "the cache files cannot be written in " + CacheDir() : kBusy;
  } catch (const std::bad_alloc&) {
    update.store = nullptr;
    update.result = KeptFor(Registry::MaL, file, "does not fit in memory");
  }
  return update;
}

// Every other registry's table, each on its own.
void UpdateTables(const ConvertOptions& options, std::vector<RefreshResult>& results) {
  for (Registry r : listing::kAllRegistries) {
    const ListingFile& file = options.listings[static_cast<size_t>(r)];
    if (r == Registry::MaL) continue;
    if (file.unchanged) {
      results.push_back(Unchanged(r, file));
      continue;
    }
    if (file.path.empty()) {
      if (!file.problem.empty()) results.push_back(KeptFor(r, file, file.problem));
      continue;
    }
    const update::PreparedTable table = update::PrepareTable(r, file.path, file.source, options.force, options.listChanges);
    results.push_back(table.refused() ? table.result : update::SaveTable(table));
    if (results.back().status == RefreshResult::Status::Updated) KeepValidators(r, file);
  }
}

// A downloaded listing goes once it was taken; one that was refused stays
// for a look, until an update after this process removes it.
void RemoveTakenDownloads(const ListingFiles& listings, const std::vector<RefreshResult>& results,
                          bool storeReplaced) {
  for (Registry r : listing::kAllRegistries) {
    const ListingFile& file = listings[static_cast<size_t>(r)];
    if (!file.downloaded || file.path.empty()) continue;
    bool taken = r == Registry::MaL && storeReplaced;
    for (const RefreshResult& result : results) {
      taken = taken || (result.registry == r && result.status == RefreshResult::Status::Updated);
    }
    if (taken) unlink(file.path.c_str());
  }
}

}  // namespace

std::string TodaysVersionText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return VersionText(local);
}

std::string VersionText(const std::tm& local) {
  char text[64];
  std::snprintf(text, sizeof text, kVersionDateFormat, local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

bool ConvertThreadProc(UpdateUi& ui, const ConvertOptions& options) {
  std::vector<RefreshResult> results;
  const ListingFile& mal = options.listings[kMaL];
  // Without an MA-L listing (update --from mam.txt) the store is left alone.
  const bool withStore = !mal.path.empty() || options.waitForDownload;
  bool completed = false;
  bool storeReplaced = false;
  bool storeReady = withStore;
  if (options.waitForDownload && !WaitForDownload(ui)) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgDownloadFailed);
    results.push_back(KeptFor(Registry::MaL, mal, mal.problem.empty() ? "could not be downloaded" : mal.problem));
    storeReady = false;
  } else if (mal.unchanged) {
    // Nothing new to convert: the database stays, without a word.
    results.push_back(Unchanged(Registry::MaL, mal));
    storeReady = false;
  } else if (withStore && !CanOpen(mal.path)) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgListingUnreadable);
    results.push_back(KeptFor(Registry::MaL, mal, "cannot be read"));
    storeReady = false;
  } else if (withStore) {
    ui.ShowMessage(kCaptionUpdate, kMsgDownloadDone);
  }

  // One lock for the whole rewrite: updates of several processes take turns.
  std::optional<CacheDirLock> lock = CacheDirLock::Exclusive(kUpdateLockWait);
  if (lock) RemoveStaleTemporaries();
  if (storeReady) {
    // Without the lock the new store is still used, but not written.
    const std::string version = TodaysVersionText();
    const StoreUpdate update = UpdateStore(mal, version, options, lock.has_value());
    results.push_back(update.result);
    completed = update.committed;
    storeReplaced = update.store != nullptr;
    if (completed) {
      KeepValidators(Registry::MaL, mal);
      ui.SetVersionText(version);
      g_bRefreshPending.store(1, std::memory_order_release);
    }
  }
  if (lock) {
    UpdateTables(options, results);
  } else {
    for (Registry r : listing::kAllRegistries) {
      const ListingFile& file = options.listings[static_cast<size_t>(r)];
      if (r != Registry::MaL && !file.path.empty()) results.push_back(KeptFor(r, file, kBusy));
    }
  }
  lock.reset();
  registry::ReloadSharedTables();
  if (storeReady) {
    ui.ShowMessage(completed ? kCaptionUpdate : kCaptionUpdateFailed, completed ? kMsgUpdateDone : kMsgUpdateFailed);
  }
  RemoveTakenDownloads(options.listings, results, storeReplaced);
  if (options.results != nullptr) *options.results = std::move(results);
  return completed;
}
