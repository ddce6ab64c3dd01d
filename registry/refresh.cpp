#include "vessarine/registry/refresh.h"

#include <sys/stat.h>

#include <optional>

#include "vessarine/registry/cache_io.h"
#include "vessarine/listing/listing.h"
#include "vessarine/listing/table.h"
#include "vessarine/registry/tables.h"

namespace registry {

namespace {

RefreshResult Kept(Registry r, std::string_view source, std::string reason) {
  RefreshResult result;
  result.registry = r;
  result.status = RefreshResult::Status::Kept;
  result.source = source;
  result.reason = std::move(reason);
  return result;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<Registry> RegistryOfFileName(const std::string& path) {
  std::string name = BaseName(path);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return std::nullopt;
  std::string_view stem = std::string_view(name).substr(0, dot);
  for (Registry r : kAllRegistries) {
    if (stem == Info(r).fileBase) return r;
  }
  return std::nullopt;
}

}  // namespace

std::string Describe(const RefreshResult& result) {
  std::string text(Info(result.registry).name);
  switch (result.status) {
    case RefreshResult::Status::Updated:
      text += ": updated, " + std::to_string(result.entries) + " entries";
      if (!result.source.empty()) text += " from " + result.source;
      break;
    case RefreshResult::Status::Kept:
      text += ": kept the previous table: ";
      if (!result.source.empty()) text += result.source + " ";
      text += result.reason;
      break;
    case RefreshResult::Status::Absent:
      text += ": no listing";
      break;
  }
  return text;
}

bool SaveTableImage(Registry r, std::string_view image, std::string* error) {
  return WriteCacheFileAtomically(TableFile(r), image, error);
}

RefreshResult RefreshFromListing(Registry r, std::string_view listing, std::string_view source) {
  ParsedListing parsed = ParseListing(listing, r);
  if (!parsed.ok()) return Kept(r, source, parsed.refusal);
  std::string image = EncodeImage(r, parsed);
  const size_t entries = TableView::FromImage(image.data(), image.size(), r, false, nullptr)->size();
  // Registries only grow; a listing with far fewer entries than the table
  // it would replace is a partial download or the wrong file.
  const size_t previous = CurrentEntryCount(r);
  if (entries * 10 < previous * 9) {
    return Kept(r, source,
                "holds " + std::to_string(entries) + " entries, far fewer than the " +
                    std::to_string(previous) + " of the current table");
  }
  std::string error;
  if (!SaveTableImage(r, image, &error)) return Kept(r, source, error);
  RefreshResult result;
  result.registry = r;
  result.status = RefreshResult::Status::Updated;
  result.entries = entries;
  result.source = source;
  return result;
}

RefreshResult RefreshFromFile(Registry r, const std::string& path) {
  std::string bytes, problem;
  if (!ReadRegularFile(path, kMaxListingBytes, &bytes, &problem)) return Kept(r, path, problem);
  return RefreshFromListing(r, bytes, path);
}

RefreshResult RefreshFromListingFile(const std::string& path) {
  std::string bytes, problem;
  std::optional<Registry> byName = RegistryOfFileName(path);
  if (!ReadRegularFile(path, kMaxListingBytes, &bytes, &problem))
    return Kept(byName.value_or(Registry::MaL), path, problem);
  std::optional<Registry> r = RegistryOfListing(bytes);
  if (!r) r = byName;
  if (!r) return Kept(Registry::MaL, path, "does not say which registry it lists; not a registry listing");
  return RefreshFromListing(*r, bytes, path);
}

std::vector<RefreshResult> RefreshFromFolder(const std::string& dir) {
  std::vector<RefreshResult> results;
  for (Registry r : kAllRegistries) {
    // The text form carries the address as its lines; the CSV form is the
    // fallback.
    std::optional<std::string> found;
    for (const char* ext : {".txt", ".csv"}) {
      std::string path = dir + "/" + std::string(Info(r).fileBase) + ext;
      if (IsRegularFile(path)) {
        found = path;
        break;
      }
    }
    if (!found) {
      RefreshResult absent;
      absent.registry = r;
      absent.status = RefreshResult::Status::Absent;
      results.push_back(absent);
      continue;
    }
    results.push_back(RefreshFromFile(r, *found));
  }
  return results;
}

std::vector<RefreshResult> RefreshFromPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return RefreshFromFolder(path);
  return {RefreshFromListingFile(path)};
}

}  // namespace registry
