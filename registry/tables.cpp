#include "vessarine/registry/tables.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "vessarine/db/loader.h"
#include "vessarine/registry/builtin_table.h"

namespace registry {

namespace {

// Tables this large get a bucket index over their keys' first 12 bits
// (16 KiB, so it stays in the first-level cache; a bucket of the largest
// table holds about ten entries).
constexpr uint32_t kBucketedSize = 4096;
constexpr int kBucketBits = 12;
constexpr uint32_t kBuckets = 1u << kBucketBits;

Match MakeMatch(listing::Registry r, const listing::TableView& t, int64_t i) {
  const auto at = static_cast<size_t>(i);
  return Match{r, t.KeyAt(at), t.bits(), t.OrganizationAt(at), t.AddressAt(at), &t, static_cast<uint32_t>(at)};
}

listing::TableView BuiltInView() {
  std::string problem;
  // The image was checked when it was generated; the structural checks are
  // cheap and keep a bad build from reading out of bounds.
  auto view = listing::TableView::FromImage(kBuiltinMaLImage, kBuiltinMaLImageSize, listing::Registry::MaL, false, &problem);
  return view ? *view : listing::TableView();
}

// Takes and checks one registry's cache file.
db::FileSnapshot::Status OpenTable(listing::Registry r, db::FileSnapshot* file, listing::TableView* view, std::string* problem) {
  auto status = db::FileSnapshot::Take(CachePath(db::TableFile(r)), db::kMaxTableFileSize, file, problem);
  if (status != db::FileSnapshot::Status::Ok) return status;
  auto checked = listing::TableView::FromImage(
      file->data(), file->size(), r, true,
      [file](uint64_t offset, size_t n, char* buffer) { return file->Read(offset, n, buffer); }, problem);
  if (!checked) {
    *file = db::FileSnapshot();
    return db::FileSnapshot::Status::Refused;
  }
  *view = *checked;
  return db::FileSnapshot::Status::Ok;
}

}  // namespace

void AppendPrefixDigits(std::string* out, uint64_t prefix, int bits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int digits = (bits + 3) / 4;
  uint64_t v = prefix << (digits * 4 - bits);
  char text[16];
  for (int i = digits; i-- > 0; v >>= 4) text[i] = kDigits[v & 15];
  out->append(text, static_cast<size_t>(digits));
}

std::string AssignmentText(listing::Registry r, uint64_t prefix) {
  std::string out;
  AppendPrefixDigits(&out, prefix, Info(r).bits);
  return out;
}

std::string AssignmentDigits(const Match& m) {
  std::string out;
  AppendPrefixDigits(&out, m.prefix, m.bits);
  return out;
}

std::string_view RegistryName(const Match& m) { return m.user != nullptr ? "user" : Info(m.registry).name; }

std::vector<listing::TableView::Holder> FurtherHolders(const Match& m) {
  if (m.table == nullptr || m.table->furtherCount() == 0) return {};
  return m.table->FurtherHolders(m.index);
}

std::string UserSource(const Match& m) {
  if (m.user == nullptr) return {};
  return m.userFile->file() + ":" + std::to_string(m.user->line);
}

Match UserMatch(const UserPrefixes& file, const UserPrefix& p) {
  Match m{listing::Registry::MaL, p.first >> (48 - p.bits), p.bits, file.Name(p), {}};
  m.user = &p;
  m.userFile = &file;
  return m;
}

namespace {
std::atomic<uint64_t> generation{1};
}  // namespace

uint64_t TablesGeneration() { return generation.load(std::memory_order_acquire); }

RegistryTables::~RegistryTables() { generation.fetch_add(1, std::memory_order_acq_rel); }

void RegistryTables::Load(std::FILE* warnings, bool manyLookups) {
  generation.fetch_add(1, std::memory_order_acq_rel);
  for (listing::Registry r : listing::kAllRegistries) {
    const auto i = static_cast<size_t>(r);
    std::string problem;
    files_[i] = db::FileSnapshot();
    views_[i] = listing::TableView();
    sources_[i] = TableSource::None;
    auto status = OpenTable(r, &files_[i], &views_[i], &problem);
    if (status == db::FileSnapshot::Status::Ok) {
      sources_[i] = TableSource::Cache;
      continue;
    }
    if (status == db::FileSnapshot::Status::Refused && warnings != nullptr) {
      std::fprintf(warnings, "vessarine: ignoring the %s registry cache %s: it %s%s\n",
                   std::string(Info(r).name).c_str(), CachePath(db::TableFile(r)).c_str(),
                   problem.c_str(), r == listing::Registry::MaL ? "; using the built-in MA-L table" : "");
    }
    if (r == listing::Registry::MaL) {
      views_[i] = BuiltInView();
      sources_[i] = TableSource::BuiltIn;
    }
  }
  indexed_ = manyLookups;
  if (indexed_) Index();
}

void RegistryTables::Index() {
  for (listing::Registry r : listing::kAllRegistries) {
    const listing::TableView& t = table(r);
    std::vector<uint32_t>& bounds = buckets_[static_cast<size_t>(r)];
    bounds.clear();
    if (t.size() < kBucketedSize) continue;
    bounds.resize(kBuckets + 1);
    const int shift = t.bits() - kBucketBits;
    uint32_t i = 0;
    for (uint32_t b = 0; b < kBuckets; ++b) {
      bounds[b] = i;
      while (i < t.size() && (t.KeyAt(i) >> shift) == b) ++i;
    }
    bounds[kBuckets] = i;
    if (i != t.size()) bounds.clear();  // keys out of order: search it whole
  }
  parents_.clear();
  for (listing::Registry r : {listing::Registry::MaM, listing::Registry::MaS, listing::Registry::Iab}) {
    const listing::TableView& t = table(r);
    const int shift = t.bits() - 24;
    for (uint32_t i = 0; i < t.size(); ++i) {
      auto p = static_cast<uint32_t>(t.KeyAt(i) >> shift);
      if (parents_.empty() || parents_.back() != p) parents_.push_back(p);
    }
  }
  std::sort(parents_.begin(), parents_.end());
  parents_.erase(std::unique(parents_.begin(), parents_.end()), parents_.end());
  parentBlocks_.fill(0);
  for (uint32_t p : parents_) parentBlocks_[p >> 14] |= uint64_t{1} << (p >> 8 & 63);
}

bool RegistryTables::HasChildren(uint32_t p24) const {
  if ((parentBlocks_[p24 >> 14] >> (p24 >> 8 & 63) & 1) == 0) return false;
  const uint32_t* base = parents_.data();
  size_t n = parents_.size();
  while (n > 1) {
    size_t half = n / 2;
    base = (base[half] <= p24) ? base + half : base;
    n -= half;
  }
  return *base == p24;
}

std::optional<Match> RegistryTables::LookupBlock(uint64_t mac) const {
  if (indexed_ && !HasChildren(static_cast<uint32_t>(mac >> 24))) return std::nullopt;
  for (listing::Registry r : {listing::Registry::MaS, listing::Registry::Iab}) {
    if (int64_t i = Find(r, mac >> 12); i >= 0) return MakeMatch(r, table(r), i);
  }
  if (int64_t i = Find(listing::Registry::MaM, mac >> 20); i >= 0) return MakeMatch(listing::Registry::MaM, table(listing::Registry::MaM), i);
  return std::nullopt;
}

int64_t RegistryTables::Find(listing::Registry r, uint64_t key) const {
  const listing::TableView& t = table(r);
  const std::vector<uint32_t>& bounds = buckets_[static_cast<size_t>(r)];
  if (bounds.empty()) return t.Find(key);
  const uint64_t b = key >> (t.bits() - kBucketBits);
  if (b >= kBuckets) return -1;
  uint32_t lo = bounds[b], hi = bounds[b + 1];
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    const uint64_t k = t.KeyAt(mid);
    if (k == key) return mid;
    if (k < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return -1;
}

std::optional<Match> RegistryTables::Lookup(uint64_t mac, bool prefixOnly) const {
  if (!user_.entries().empty()) {
    if (const UserPrefix* p = user_.Lookup(mac, prefixOnly ? 24 : 48)) return UserMatch(user_, *p);
  }
  const uint64_t p24 = mac >> 24;
  if (!prefixOnly) {
    if (auto block = LookupBlock(mac)) return block;
  }
  for (listing::Registry r : {listing::Registry::MaL, listing::Registry::Cid}) {
    const listing::TableView& t = table(r);
    if (int64_t i = Find(r, p24); i >= 0) return MakeMatch(r, t, i);
  }
  return std::nullopt;
}

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<const RegistryTables> g_shared;

std::shared_ptr<const RegistryTables> LoadedTables() {
  auto tables = std::make_shared<RegistryTables>();
  tables->Load(nullptr);
  return tables;
}

}  // namespace

std::shared_ptr<const RegistryTables> SharedTables() {
  std::lock_guard lock(g_sharedMutex);
  if (!g_shared) g_shared = LoadedTables();
  return g_shared;
}

void ReloadSharedTables() {
  auto tables = LoadedTables();
  std::lock_guard lock(g_sharedMutex);
  g_shared = std::move(tables);
}

listing::TableView CurrentTable(listing::Registry r, db::FileSnapshot* file, bool* fromCache) {
  listing::TableView view;
  std::string problem;
  const bool cached = OpenTable(r, file, &view, &problem) == db::FileSnapshot::Status::Ok;
  if (fromCache != nullptr) *fromCache = cached;
  if (cached) return view;
  return r == listing::Registry::MaL ? BuiltInView() : listing::TableView();
}

}  // namespace registry
