// A registry's table: the entries a listing yields, and the compact image
// they are kept in (cache file or built-in data), read in place.
//
// Image layout, little-endian, all offsets from the image's start:
//   ImageHeader (64 bytes)
//   uint64_t keys[count]      assignment values, strictly ascending
//   Record   records[count]   organization and address of keys[i] in the pool
//   Record   also[alsoCount]  further holders of assignments listed more than once
//   uint32_t alsoOf[alsoCount] the index of the key each of those belongs to, ascending
//   char     pool[poolSize]   UTF-8 texts, address lines joined by '\n'
// Version 1 images, written before further holders were kept, have no
// `also` section; they are read as having none.
// The checksum covers the whole image (its own field taken as zero), so a
// torn or damaged file is told from a whole one before any of it is used.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/listing/registries.h"

namespace listing {

struct Entry {
  uint64_t prefix = 0;       // the assignment's `bits` leading bits as a number
  std::string organization;  // UTF-8
  std::string address;       // UTF-8 lines joined by '\n'; empty for private entries
};

inline constexpr char kImageMagic[8] = {'V', 'S', 'R', 'G', 'T', 'A', 'B', '\0'};
inline constexpr uint32_t kImageVersion = 2;

struct ImageHeader {
  char magic[8];
  uint32_t version;
  uint32_t registry;
  uint32_t bits;
  uint32_t count;
  uint64_t poolSize;
  uint64_t checksum;
  uint64_t alsoCount;  // zero in version 1
  uint64_t reserved[2];
};
static_assert(sizeof(ImageHeader) == 64);

struct ImageRecord {
  uint32_t orgOffset;
  uint32_t orgLength;
  uint32_t addrOffset;
  uint32_t addrLength;
};
static_assert(sizeof(ImageRecord) == 16);

// A further holder of an assignment: the index of its key and its record.
struct AlsoRecord {
  uint32_t of;
  ImageRecord record;
};

// Sorts the entries by assignment and lays them out as an image; of an
// assignment listed more than once, the first entry is its holder and the
// others, in their order, its further holders.
std::string EncodeImage(Registry r, std::vector<Entry> entries);

// Lays out the image of `keys.size()` assignments, strictly ascending, with
// their records (offsets into `pool`, in any order), the further holders
// (by ascending `of`) and the pool.
std::string LayOutImage(Registry r, const std::vector<uint64_t>& keys, const std::vector<ImageRecord>& records,
                        const std::vector<AlsoRecord>& also, std::string_view pool);

// Gives `n` (at most kImageBlock) bytes of an image from `offset`: a
// pointer to them, in `buffer` (kImageBlock bytes, 16-aligned) or anywhere
// else; null when they cannot be read.
inline constexpr size_t kImageBlock = 16u << 10;
using ImageReader = std::function<const char*(uint64_t offset, size_t n, char* buffer)>;

// Read-only view of an image; the memory must outlive the view.
class TableView {
 public:
  TableView() = default;
  // Checks header, sizes, order and every record's bounds (and the checksum
  // when asked); nullopt with the reason in *problem when anything is off.
  static std::optional<TableView> FromImage(const void* data, size_t size, Registry expected,
                                            bool verifyChecksum, std::string* problem);
  // The same checks made on the bytes `read` gives, a block at a time: a
  // file mapped in place is checked by reads through a small buffer rather
  // than by touching every page of the mapping. `data` holds those bytes.
  static std::optional<TableView> FromImage(const void* data, size_t size, Registry expected,
                                            bool verifyChecksum, const ImageReader& read, std::string* problem);

  uint32_t size() const { return count_; }
  int bits() const { return bits_; }
  // Index of the entry whose assignment equals `prefix`, or -1.
  int64_t Find(uint64_t prefix) const {
    if (count_ == 0) return -1;
    const uint64_t* base = keys_;
    size_t n = count_;
    // Branch-free lower bound: the compiler turns the step into a cmov.
    while (n > 1) {
      size_t half = n / 2;
      base = (base[half] <= prefix) ? base + half : base;
      n -= half;
    }
    return *base == prefix ? base - keys_ : -1;
  }
  uint64_t KeyAt(size_t i) const { return keys_[i]; }
  std::string_view OrganizationAt(size_t i) const {
    return {pool_ + records_[i].orgOffset, records_[i].orgLength};
  }
  std::string_view AddressAt(size_t i) const {
    return {pool_ + records_[i].addrOffset, records_[i].addrLength};
  }

  struct Holder {
    std::string_view organization;
    std::string_view address;
  };
  // The holders of entry i after the first, in listing order: the listing
  // gave its assignment to each of them too.
  std::vector<Holder> FurtherHolders(size_t i) const;
  uint32_t furtherCount() const { return alsoCount_; }

 private:
  const uint64_t* keys_ = nullptr;
  const ImageRecord* records_ = nullptr;
  const ImageRecord* also_ = nullptr;
  const uint32_t* alsoOf_ = nullptr;
  const char* pool_ = nullptr;
  uint32_t count_ = 0;
  uint32_t alsoCount_ = 0;
  int bits_ = 0;
};

}  // namespace listing
