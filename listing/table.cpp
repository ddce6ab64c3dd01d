#include "vessarine/listing/table.h"

#include <algorithm>
#include <cstring>

#include "vessarine/store/bytes.h"

namespace listing {

namespace {

// The check stored in the header: every byte of the image, the header's own
// check field taken as zero, from the hash of the bytes after the header.
uint64_t WholeImageChecksum(const ImageHeader& header, uint64_t bodyHash) {
  ImageHeader zeroed = header;
  zeroed.checksum = 0;
  return Hash64(&zeroed, sizeof zeroed) ^ Rotl64(bodyHash, 17);
}

}  // namespace

std::string EncodeImage(Registry r, std::vector<Entry> entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& x, const Entry& y) { return x.prefix < y.prefix; });
  std::vector<uint64_t> keys;
  std::vector<ImageRecord> records;
  std::vector<AlsoRecord> also;
  std::string pool;
  for (const Entry& e : entries) {
    const ImageRecord record{static_cast<uint32_t>(pool.size()), static_cast<uint32_t>(e.organization.size()),
                             static_cast<uint32_t>(pool.size() + e.organization.size()),
                             static_cast<uint32_t>(e.address.size())};
    pool += e.organization;
    pool += e.address;
    if (!keys.empty() && keys.back() == e.prefix) {
      also.push_back({static_cast<uint32_t>(keys.size() - 1), record});
    } else {
      keys.push_back(e.prefix);
      records.push_back(record);
    }
  }
  return LayOutImage(r, keys, records, also, pool);
}

std::string LayOutImage(Registry r, const std::vector<uint64_t>& keys, const std::vector<ImageRecord>& records,
                        const std::vector<AlsoRecord>& also, std::string_view pool) {
  const size_t count = keys.size();
  ImageHeader header{};
  std::memcpy(header.magic, kImageMagic, sizeof header.magic);
  header.version = kImageVersion;
  header.registry = static_cast<uint32_t>(r);
  header.bits = static_cast<uint32_t>(Info(r).bits);
  header.count = static_cast<uint32_t>(count);
  header.poolSize = pool.size();
  header.alsoCount = also.size();

  std::string image(sizeof header + count * (sizeof(uint64_t) + sizeof(ImageRecord)) +
                        also.size() * (sizeof(ImageRecord) + sizeof(uint32_t)) + pool.size(),
                    '\0');
  char* out = image.data() + sizeof header;
  if (count != 0) std::memcpy(out, keys.data(), count * sizeof(uint64_t));
  out += count * sizeof(uint64_t);
  if (count != 0) std::memcpy(out, records.data(), count * sizeof(ImageRecord));
  out += count * sizeof(ImageRecord);
  for (const AlsoRecord& a : also) {
    std::memcpy(out, &a.record, sizeof a.record);
    out += sizeof a.record;
  }
  for (const AlsoRecord& a : also) {
    std::memcpy(out, &a.of, sizeof a.of);
    out += sizeof a.of;
  }
  if (!pool.empty()) std::memcpy(out, pool.data(), pool.size());
  header.checksum = WholeImageChecksum(header, Hash64(image.data() + sizeof header, image.size() - sizeof header));
  std::memcpy(image.data(), &header, sizeof header);
  return image;
}

std::optional<TableView> TableView::FromImage(const void* data, size_t size, Registry expected,
                                              bool verifyChecksum, std::string* problem) {
  const auto* bytes = static_cast<const char*>(data);
  return FromImage(data, size, expected, verifyChecksum,
                   [bytes](uint64_t offset, size_t, char*) { return bytes + offset; }, problem);
}

std::optional<TableView> TableView::FromImage(const void* data, size_t size, Registry expected,
                                              bool verifyChecksum, const ImageReader& read, std::string* problem) {
  auto fail = [problem](const char* why) -> std::optional<TableView> {
    if (problem != nullptr) *problem = why;
    return std::nullopt;
  };
  if (size < sizeof(ImageHeader)) return fail("is too short for a registry table");
  if (reinterpret_cast<uintptr_t>(data) % alignof(uint64_t) != 0) return fail("is misaligned in memory");
  alignas(16) char buffer[kImageBlock];
  const char* headerBytes = read(0, sizeof(ImageHeader), buffer);
  if (headerBytes == nullptr) return fail("cannot be read");
  ImageHeader header;
  std::memcpy(&header, headerBytes, sizeof header);
  if (std::memcmp(header.magic, kImageMagic, sizeof header.magic) != 0) return fail("is not a registry table");
  if (header.version != kImageVersion && header.version != 1)
    return fail("was written by another version of the program");
  if (header.version == 1 && header.alsoCount != 0) return fail("is not a registry table");
  if (header.registry != static_cast<uint32_t>(expected)) return fail("holds another registry's table");
  if (header.bits != static_cast<uint32_t>(Info(expected).bits)) return fail("has the wrong prefix length");
  const uint64_t count = header.count;
  const uint64_t alsoCount = header.alsoCount;
  if (alsoCount > size) return fail("is cut short or has bytes past its end");
  const uint64_t primary = count * (sizeof(uint64_t) + sizeof(ImageRecord));
  const uint64_t body = primary + alsoCount * (sizeof(ImageRecord) + sizeof(uint32_t));
  if (header.poolSize > UINT32_MAX || sizeof header + body + header.poolSize != size)
    return fail("is cut short or has bytes past its end");

  // The lookup relies on ascending keys and in-bounds texts; a checksum
  // proves the bytes whole, not that whoever wrote them got these right.
  // Every section is read in order, a block at a time, each block both
  // checked and hashed; a damaged file is named by its checksum first.
  const char* wrong = nullptr;
  Hash64Parts hash;
  auto recordInPool = [&header](const char* p) {
    ImageRecord rec;
    std::memcpy(&rec, p, sizeof rec);
    return uint64_t{rec.orgOffset} + rec.orgLength <= header.poolSize &&
           uint64_t{rec.addrOffset} + rec.addrLength <= header.poolSize;
  };
  // Reads `items` items of `unit` bytes from `offset`, calling check(item,
  // index) on each while nothing is wrong yet; false when unreadable.
  auto section = [&](uint64_t offset, uint64_t items, size_t unit, const char* why, auto&& check) {
    const uint64_t perBlock = kImageBlock / unit;
    for (uint64_t first = 0; first < items; first += perBlock) {
      const size_t n = static_cast<size_t>(std::min(perBlock, items - first));
      if (wrong != nullptr && !verifyChecksum) return true;
      const char* p = read(offset + first * unit, n * unit, buffer);
      if (p == nullptr) return false;
      if (verifyChecksum) hash.Add(p, n * unit);
      for (size_t k = 0; k < n && wrong == nullptr; ++k) {
        if (!check(p + k * unit, first + k)) wrong = why;
      }
    }
    return true;
  };
  const uint64_t limit = uint64_t{1} << header.bits;
  uint64_t previousKey = 0;
  uint32_t previousOf = 0;
  const uint64_t keysAt = sizeof header, recordsAt = keysAt + count * sizeof(uint64_t);
  const uint64_t alsoAt = sizeof header + primary, alsoOfAt = alsoAt + alsoCount * sizeof(ImageRecord);
  const bool readable =
      section(keysAt, count, sizeof(uint64_t), "has its entries out of order",
              [&](const char* p, uint64_t i) {
                const uint64_t key = Load64(p);
                const bool ascending = key < limit && (i == 0 || key > previousKey);
                previousKey = key;
                return ascending;
              }) &&
      section(recordsAt, count, sizeof(ImageRecord), "points outside its text",
              [&](const char* p, uint64_t) { return recordInPool(p); }) &&
      section(alsoAt, alsoCount, sizeof(ImageRecord), "points outside its text",
              [&](const char* p, uint64_t) { return recordInPool(p); }) &&
      section(alsoOfAt, alsoCount, sizeof(uint32_t), "has its entries out of order",
              [&](const char* p, uint64_t k) {
                uint32_t of;
                std::memcpy(&of, p, sizeof of);
                const bool ascending = of < count && (k == 0 || of >= previousOf);
                previousOf = of;
                return ascending;
              }) &&
      (!verifyChecksum || section(sizeof header + body, header.poolSize, 1, nullptr,
                                  [](const char*, uint64_t) { return true; }));
  if (!readable) return fail("cannot be read");
  if (verifyChecksum && WholeImageChecksum(header, hash.Finish()) != header.checksum) return fail("fails its checksum");
  if (wrong != nullptr) return fail(wrong);

  const auto* bytes = static_cast<const char*>(data);
  TableView view;
  view.keys_ = reinterpret_cast<const uint64_t*>(bytes + keysAt);
  view.records_ = reinterpret_cast<const ImageRecord*>(bytes + recordsAt);
  view.also_ = reinterpret_cast<const ImageRecord*>(bytes + alsoAt);
  view.alsoOf_ = reinterpret_cast<const uint32_t*>(bytes + alsoOfAt);
  view.pool_ = bytes + sizeof header + body;
  view.count_ = header.count;
  view.alsoCount_ = static_cast<uint32_t>(alsoCount);
  view.bits_ = static_cast<int>(header.bits);
  return view;
}

std::vector<TableView::Holder> TableView::FurtherHolders(size_t i) const {
  std::vector<Holder> holders;
  const uint32_t* end = alsoOf_ + alsoCount_;
  for (const uint32_t* at = std::lower_bound(alsoOf_, end, i); at != end && *at == i; ++at) {
    const ImageRecord& rec = also_[at - alsoOf_];
    holders.push_back({{pool_ + rec.orgOffset, rec.orgLength}, {pool_ + rec.addrOffset, rec.addrLength}});
  }
  return holders;
}

}  // namespace listing
