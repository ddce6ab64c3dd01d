#include "vessarine/update/table_refresh.h"

#include <sys/stat.h>

#include <future>

#include "vessarine/listing/table.h"
#include "vessarine/db/table_files.h"
#include "vessarine/registry/tables.h"

namespace update {

namespace {

RefreshResult Kept(listing::Registry r, std::string_view source, std::string reason) {
  RefreshResult result;
  result.registry = r;
  result.status = RefreshResult::Status::Kept;
  result.source = source;
  result.reason = std::move(reason);
  return result;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<listing::Registry> RegistryOfFileName(const std::string& path) {
  std::string name = BaseName(path);
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return std::nullopt;
  std::string_view stem = std::string_view(name).substr(0, dot);
  for (listing::Registry r : listing::kAllRegistries) {
    if (stem == Info(r).fileBase) return r;
  }
  return std::nullopt;
}

// 32527 -> "32,527".
std::string Grouped(size_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

}  // namespace

std::string Summary(const RefreshResult& result) {
  std::string text(Info(result.registry).name);
  switch (result.status) {
    case RefreshResult::Status::Updated:
      text += ": updated, " + Grouped(result.entries) + " entries (+" + Grouped(result.added) + " new, -" +
              Grouped(result.withdrawn) + " withdrawn, " + Grouped(result.renamed) + " renamed)";
      if (!result.source.empty()) text += " from " + result.source;
      break;
    case RefreshResult::Status::Unchanged:
      text += ": unchanged since " + (result.reason.empty() ? std::string("the last update") : result.reason);
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

std::string RefusalOf(size_t entries, size_t current, bool force) {
  if (force) return {};
  if (entries * 2 < current) {
    return "refused: " + Grouped(entries) + " entries, far fewer than the " + Grouped(current) +
           " of the current table; --force takes it";
  }
  constexpr size_t kLargeTable = 100000;
  if (entries > kLargeTable && entries > current * 3) {
    return "refused: " + Grouped(entries) + " entries, far more than the registry could have grown from the " +
           Grouped(current) + " of the current table; --force takes it";
  }
  return {};
}

bool SaveTableImage(listing::Registry r, std::string_view image, std::string* error) {
  return db::WriteCacheFileAtomically(db::TableFile(r), image, error);
}

namespace {

// What the new table changes against the old one: both are in assignment
// order, so one walk through both finds every difference.
void CountChanges(const listing::TableView& before, const listing::TableView& after, bool list, RefreshResult* result) {
  size_t i = 0, j = 0;
  auto note = [result, list](uint64_t prefix, std::string_view was, std::string_view is) {
    if (list) result->changes.push_back(TableChange{prefix, std::string(was), std::string(is)});
  };
  while (i < before.size() || j < after.size()) {
    const bool old = j >= after.size() || (i < before.size() && before.KeyAt(i) < after.KeyAt(j));
    const bool added = !old && (i >= before.size() || after.KeyAt(j) < before.KeyAt(i));
    if (old) {
      ++result->withdrawn;
      note(before.KeyAt(i), before.OrganizationAt(i), "");
      ++i;
    } else if (added) {
      ++result->added;
      note(after.KeyAt(j), "", after.OrganizationAt(j));
      ++j;
    } else {
      if (before.OrganizationAt(i) != after.OrganizationAt(j)) {
        ++result->renamed;
        note(after.KeyAt(j), before.OrganizationAt(i), after.OrganizationAt(j));
      }
      ++i, ++j;
    }
  }
}

}  // namespace

PreparedTable PrepareTable(listing::Registry r, const std::string& path, std::string_view source, bool force,
                           bool listChanges, const std::function<void(const listing::ParsedListing&)>& alongside) {
  PreparedTable table;
  table.result.registry = r;
  table.result.source = source;
  auto bytes = std::make_shared<std::string>();
  std::string problem;
  if (!db::ReadRegularFile(path, listing::kMaxListingBytes, bytes.get(), &problem)) {
    table.result = Kept(r, source, problem);
    return table;
  }
  table.bytes = std::move(bytes);
  table.parsed = listing::ParseListing(*table.bytes, r);
  if (!table.parsed.ok()) {
    table.result = Kept(r, source, table.parsed.refusal);
    return table;
  }
  // Two independent products of one reading, made at once.
  std::future<void> side;
  if (alongside) side = std::async(std::launch::async, alongside, std::cref(table.parsed));
  table.image = listing::EncodeImage(r, table.parsed);
  if (side.valid()) side.get();
  const listing::TableView next = *listing::TableView::FromImage(table.image.data(), table.image.size(), r, false, nullptr);
  db::FileSnapshot held;
  const listing::TableView current = registry::CurrentTable(r, &held);
  table.result.entries = next.size();
  if (std::string refusal = RefusalOf(next.size(), current.size(), force); !refusal.empty()) {
    table.result = Kept(r, source, std::move(refusal));
    return table;
  }
  CountChanges(current, next, listChanges, &table.result);
  return table;
}

RefreshResult SaveTable(const PreparedTable& table) {
  RefreshResult result = table.result;
  std::string error;
  if (!SaveTableImage(result.registry, table.image, &error)) return Kept(result.registry, result.source, error);
  result.status = RefreshResult::Status::Updated;
  return result;
}

std::array<std::string, 5> ListingsInFolder(const std::string& dir) {
  std::array<std::string, 5> paths;
  for (listing::Registry r : listing::kAllRegistries) {
    for (const char* ext : {".txt", ".csv"}) {
      const std::string path = dir + "/" + std::string(Info(r).fileBase) + ext;
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) continue;
      paths[static_cast<size_t>(r)] = path;
      break;
    }
  }
  return paths;
}

std::optional<listing::Registry> RegistryOfListingFile(const std::string& path, std::string* problem) {
  std::string bytes;
  if (!db::ReadRegularFile(path, listing::kMaxListingBytes, &bytes, problem)) return std::nullopt;
  if (std::optional<listing::Registry> r = listing::RegistryOfListing(bytes)) return r;
  if (std::optional<listing::Registry> r = RegistryOfFileName(path)) return r;
  *problem = "does not say which registry it lists; not a registry listing";
  return std::nullopt;
}

}  // namespace update
