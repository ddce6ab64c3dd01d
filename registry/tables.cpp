#include "vessarine/registry/tables.h"

#include <algorithm>
#include <mutex>

#include "vessarine/db/loader.h"
#include "vessarine/registry/builtin_table.h"

namespace registry {

namespace {

Match MakeMatch(Registry r, const TableView& t, int64_t i) {
  const auto at = static_cast<size_t>(i);
  return Match{r, t.KeyAt(at), t.bits(), t.OrganizationAt(at), t.AddressAt(at)};
}

TableView BuiltInView() {
  std::string problem;
  // The image was checked when it was generated; the structural checks are
  // cheap and keep a bad build from reading out of bounds.
  auto view = TableView::FromImage(kBuiltinMaLImage, kBuiltinMaLImageSize, Registry::MaL, false, &problem);
  return view ? *view : TableView();
}

// Maps and checks one registry's cache file.
MappedFile::Status OpenTable(Registry r, MappedFile* file, TableView* view, std::string* problem) {
  auto status = MappedFile::Map(CachePath(TableFile(r)), kMaxTableFileSize, file, problem);
  if (status != MappedFile::Status::Ok) return status;
  auto checked = TableView::FromImage(file->data(), file->size(), r, true, problem);
  if (!checked) {
    *file = MappedFile();
    return MappedFile::Status::Refused;
  }
  *view = *checked;
  return MappedFile::Status::Ok;
}

}  // namespace

std::string AssignmentDigits(const Match& m) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<size_t>(m.bits / 4), '0');
  uint64_t v = m.prefix;
  for (size_t i = out.size(); i-- > 0; v >>= 4) out[i] = kDigits[v & 15];
  return out;
}

void RegistryTables::Load(std::FILE* warnings) {
  for (Registry r : kAllRegistries) {
    const auto i = static_cast<size_t>(r);
    std::string problem;
    files_[i] = MappedFile();
    views_[i] = TableView();
    sources_[i] = TableSource::None;
    auto status = OpenTable(r, &files_[i], &views_[i], &problem);
    if (status == MappedFile::Status::Ok) {
      sources_[i] = TableSource::Cache;
      continue;
    }
    if (status == MappedFile::Status::Refused && warnings != nullptr) {
      std::fprintf(warnings, "vessarine: ignoring the %s registry cache %s: it %s%s\n",
                   std::string(Info(r).name).c_str(), CachePath(TableFile(r)).c_str(),
                   problem.c_str(), r == Registry::MaL ? "; using the built-in MA-L table" : "");
    }
    if (r == Registry::MaL) {
      views_[i] = BuiltInView();
      sources_[i] = TableSource::BuiltIn;
    }
  }
  Index();
}

void RegistryTables::Index() {
  parents_.clear();
  for (Registry r : {Registry::MaM, Registry::MaS, Registry::Iab}) {
    const TableView& t = table(r);
    const int shift = t.bits() - 24;
    for (uint32_t i = 0; i < t.size(); ++i) {
      auto p = static_cast<uint32_t>(t.KeyAt(i) >> shift);
      if (parents_.empty() || parents_.back() != p) parents_.push_back(p);
    }
  }
  std::sort(parents_.begin(), parents_.end());
  parents_.erase(std::unique(parents_.begin(), parents_.end()), parents_.end());
}

bool RegistryTables::HasChildren(uint32_t p24) const {
  if (parents_.empty()) return false;
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
  if (!HasChildren(static_cast<uint32_t>(mac >> 24))) return std::nullopt;
  for (Registry r : {Registry::MaS, Registry::Iab}) {
    const TableView& t = table(r);
    if (int64_t i = t.Find(mac >> 12); i >= 0) return MakeMatch(r, t, i);
  }
  const TableView& mam = table(Registry::MaM);
  if (int64_t i = mam.Find(mac >> 20); i >= 0) return MakeMatch(Registry::MaM, mam, i);
  return std::nullopt;
}

std::optional<Match> RegistryTables::Lookup(uint64_t mac, bool prefixOnly) const {
  const uint64_t p24 = mac >> 24;
  if (!prefixOnly) {
    if (auto block = LookupBlock(mac)) return block;
  }
  for (Registry r : {Registry::MaL, Registry::Cid}) {
    const TableView& t = table(r);
    if (int64_t i = t.Find(p24); i >= 0) return MakeMatch(r, t, i);
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

size_t CurrentEntryCount(Registry r) {
  MappedFile file;
  TableView view;
  std::string problem;
  if (OpenTable(r, &file, &view, &problem) == MappedFile::Status::Ok) return view.size();
  return r == Registry::MaL ? BuiltInView().size() : 0;
}

}  // namespace registry
