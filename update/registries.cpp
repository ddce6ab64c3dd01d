// Where an update's listings come from, and the update's threads.
#include "vessarine/update/registries.h"

#include <sys/stat.h>

#include <memory>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/db/table_files.h"
#include "vessarine/registry/tables.h"
#include "vessarine/update/update.h"

namespace {

using listing::Registry;

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The download thread of an update: every listing; its outcome for the
// progress phase is the MA-L listing's.
std::thread LaunchDownloads(const std::shared_ptr<ConvertOptions>& options, const UpdateSource& source) {
  return LaunchDownloadThread([options, source] {
    DownloadListings(options->listings, source);
    const ListingFile& mal = options->listings[static_cast<size_t>(Registry::MaL)];
    return !mal.path.empty() || mal.unchanged;
  });
}

}  // namespace

std::string RegistryListingUrl(Registry r, const std::string& site) {
  std::string_view url = listing::Info(r).url;
  const std::string_view own = kRegistrySite;
  if (url.substr(0, own.size()) == own) url.remove_prefix(own.size());
  std::string base = site;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + std::string(url);
}

ListingFiles ListingsFromPath(const std::string& from, std::string* problem) {
  ListingFiles listings;
  if (!IsDirectory(from)) {
    // A file that does not say which registry it lists, or cannot be read,
    // is the store's: its conversion tells what is wrong with it.
    std::string ignored;
    const Registry r = update::RegistryOfListingFile(from, &ignored).value_or(Registry::MaL);
    listings[static_cast<size_t>(r)] = ListingAt(from, false);
    return listings;
  }
  bool any = false;
  const std::array<std::string, 5> paths = update::ListingsInFolder(from);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (paths[i].empty()) continue;
    listings[i] = ListingAt(paths[i], false);
    any = true;
  }
  if (!any) *problem = "holds none of the registry listings (oui.txt, mam.txt, oui36.txt, iab.txt, cid.txt or .csv)";
  return listings;
}

ListingFiles ListingsToDownload(const UpdateSource& source) {
  ListingFiles listings;
  const std::string site = source.site.empty() ? kRegistrySite : source.site;
  for (Registry r : listing::kAllRegistries) {
    std::string url = RegistryListingUrl(r, site);
    if (r == Registry::MaL && !source.url.empty()) url = source.url;
    if (r == Registry::MaL && source.url.empty() && source.site.empty()) url = ListingUrl(std::time(nullptr));
    listings[static_cast<size_t>(r)].source = url;
  }
  return listings;
}

namespace {

// The validators kept beside registry `r`'s table, when the table in place
// is the one they were sent with: a whole cache table (for MA-L, with the
// store's cache set loaded too).
void LoadValidators(Registry r, ListingFile* file) {
  db::FileSnapshot held;
  bool fromCache = false;
  registry::CurrentTable(r, &held, &fromCache);
  if (!fromCache || (r == Registry::MaL && g_bCachePresent == 0)) return;
  std::string text;
  std::string problem;
  if (!db::ReadRegularFile(CachePath(kRegistryValidatorFiles[static_cast<size_t>(r)]), 4096, &text, &problem))
    return;
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return;
  file->etag = text.substr(0, nl);
  file->lastModified = text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1);
}

}  // namespace

void DownloadListings(ListingFiles& listings, const UpdateSource& source) {
  // All at once: the update takes as long as the slowest listing.
  std::vector<DownloadRequest> requests;
  std::vector<ListingFile*> files;
  for (Registry r : listing::kAllRegistries) {
    ListingFile& file = listings[static_cast<size_t>(r)];
    if (file.source.empty() || !file.path.empty()) continue;
    if (source.conditional && !source.force) LoadValidators(r, &file);
    DownloadRequest request{file.source, NewListingPath(), file.etag, file.lastModified, {}, {}};
    if (source.progress) {
      request.progress = [r, progress = source.progress](uint64_t received, int64_t total) {
        progress(r, received, total);
      };
    }
    requests.push_back(std::move(request));
    files.push_back(&file);
  }
  const std::vector<DownloadResult> results = DownloadAll(requests);
  for (size_t i = 0; i < files.size(); ++i) {
    const DownloadResult& result = results[i];
    files[i]->etag = result.etag;
    files[i]->lastModified = result.lastModified;
    if (result.ok()) {
      files[i]->path = requests[i].path;
      files[i]->downloaded = true;
    } else if (result.status == DownloadResult::Status::NotModified) {
      files[i]->unchanged = true;
    } else {
      files[i]->problem = "could not be downloaded: " + result.reason;
    }
  }
}

bool StartUpdateThreads(UpdateUi& ui, const UpdateSource& source) {
  uint8_t idle = 0;
  if (!g_bUpdateRunning.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) {
    return false;
  }
  try {
    // Shared by the two threads.
    auto options = std::make_shared<ConvertOptions>();
    options->listings = ListingsToDownload(source);
    options->force = source.force;
    options->listChanges = source.listChanges;
    LaunchDownloads(options, source).detach();
    std::thread([&ui, options] {
      try {
        ConvertThreadProc(ui, *options);
      } catch (...) {
        // Nothing to tell: the user interface itself failed.
      }
      g_bUpdateRunning.store(0, std::memory_order_release);
    }).detach();
  } catch (...) {
    // No conversion thread: the update is not running. A download thread
    // that did start ends on its own and only leaves its temporary files.
    g_bUpdateRunning.store(0, std::memory_order_release);
    return false;
  }
  return true;
}

bool RunUpdateHere(UpdateUi& ui, const UpdateSource& source, std::vector<update::RefreshResult>* results) {
  auto shared = std::make_shared<ConvertOptions>();
  ConvertOptions& options = *shared;
  options.force = source.force;
  options.listChanges = source.listChanges;
  options.results = results;
  if (!source.from.empty()) {
    // The user's own files: read, never deleted.
    std::string problem;
    options.listings = ListingsFromPath(source.from, &problem);
    options.waitForDownload = false;
    if (!problem.empty()) {
      if (results != nullptr) {
        update::RefreshResult none;
        none.status = update::RefreshResult::Status::Kept;
        none.source = source.from;
        none.reason = problem;
        results->assign(1, none);
      }
      return false;
    }
    return ConvertThreadProc(ui, options);
  }
  options.listings = ListingsToDownload(source);
  std::thread download = LaunchDownloads(shared, source);
  const bool completed = ConvertThreadProc(ui, options);
  download.join();
  return completed;
}
