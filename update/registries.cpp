#include "vessarine/update/registries.h"

#include <unistd.h>

#include <optional>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/update/update.h"

namespace {

registry::RefreshResult Kept(registry::Registry r, std::string source, std::string reason) {
  registry::RefreshResult result;
  result.registry = r;
  result.status = registry::RefreshResult::Status::Kept;
  result.source = std::move(source);
  result.reason = std::move(reason);
  return result;
}

constexpr char kBusy[] = "the cache directory is busy with another update";

}  // namespace

std::string RegistryListingUrl(registry::Registry r, const std::string& site) {
  std::string_view url = registry::Info(r).url;
  const std::string_view own = kRegistrySite;
  if (url.substr(0, own.size()) == own) url.remove_prefix(own.size());
  std::string base = site;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + std::string(url);
}

registry::RefreshResult RefreshRegistryFromFile(registry::Registry r, const std::string& path) {
  std::optional<CacheDirLock> lock = CacheDirLock::Exclusive(kUpdateLockWait);
  if (!lock) return Kept(r, path, kBusy);
  return registry::RefreshFromFile(r, path);
}

registry::RefreshResult RefreshRegistryFromListing(registry::Registry r, std::string_view listing) {
  std::optional<CacheDirLock> lock = CacheDirLock::Exclusive(kUpdateLockWait);
  if (!lock) return Kept(r, "", kBusy);
  return registry::RefreshFromListing(r, listing, "");
}

std::vector<registry::RefreshResult> RefreshRegistriesFromPath(const std::string& path) {
  std::optional<CacheDirLock> lock = CacheDirLock::Exclusive(kUpdateLockWait);
  if (!lock) return {Kept(registry::Registry::MaL, path, kBusy)};
  return registry::RefreshFromPath(path);
}

registry::RefreshResult DownloadRegistry(registry::Registry r, const std::string& url) {
  MakeDirectories(CacheDir());
  const std::string path = NewListingPath();
  registry::RefreshResult result =
      DownloadListing(url, path) ? RefreshRegistryFromFile(r, path) : Kept(r, url, "could not be downloaded");
  result.source = url;  // not the temporary file
  unlink(path.c_str());
  return result;
}
