#include "vessarine/db/loader.h"

#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "vessarine/db/builtin.h"
#include "vessarine/store/bytes.h"
#include "vessarine/db/cache_files.h"
#include "vessarine/store/texts.h"

std::string g_strDbVersion;
uint8_t g_bCachePresent = 0;

namespace {

#if !defined(__SSE2__)
// Whether all eight bytes of `x` are hexadecimal digits of either case.
// SWAR: each test yields 0x80 in a byte's top bit where it holds; the bytes
// here are checked for being below 0x80 first, so nothing carries across.
bool AllHexDigits(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  auto below = [](uint64_t v, uint8_t n) { return (v + (0x80 - n) * kOnes) ^ kHigh; };  // top bit: v < n
  if ((x & kHigh) != 0) return false;
  const uint64_t digit = ~below(x, '0') & below(x, '9' + 1);
  const uint64_t lower = x | 0x20 * kOnes;
  const uint64_t letter = ~below(lower, 'a') & below(lower, 'f' + 1);
  return ((digit | letter) & kHigh) == kHigh;
}
#endif

// The value of eight hexadecimal digits (checked by AllHexDigits), the
// first one most significant.
uint32_t HexValue8(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  // Per byte: the low nibble, plus 9 for a letter (bit 6 set).
  uint64_t n = (x & 0x0F * kOnes) + ((x >> 6) & kOnes) * 9;
  // Little-endian: the first digit is the lowest byte. Pair, then join.
  n = ((n & 0x000F000F000F000Full) << 4) | ((n >> 8) & 0x000F000F000F000Full);
  n = ((n & 0x000000FF000000FFull) << 8) | ((n >> 16) & 0x000000FF000000FFull);
  return static_cast<uint32_t>(((n & 0xFFFF) << 16) | ((n >> 32) & 0xFFFF));
}

// Whether a record's first 14 bytes (prefix and offset) are hexadecimal
// digits. With SSE2 (every x86-64) in one 16-byte step: this runs for every
// record at every start.
bool PrefixAndOffsetAreHex(const unsigned char* record) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record));
  auto within = [](__m128i v, char lo, char hi) {  // lo <= v <= hi, for bytes below 0x80
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const __m128i lower = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
  const __m128i hex = _mm_or_si128(within(bytes, '0', '9'), within(lower, 'a', 'f'));
  return (_mm_movemask_epi8(hex) & 0x3FFF) == 0x3FFF;
#else
  return AllHexDigits(Load64(record)) && AllHexDigits(Load64(record + 6));
#endif
}

// The four lower-case index digits that begin block i, as one 32-bit word.
struct IndexDigits {
  uint16_t pair[256];  // two digits of one byte, in memory order
  IndexDigits() {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int b = 0; b < 256; ++b) {
      const char two[2] = {kDigits[b >> 4], kDigits[b & 0xF]};
      std::memcpy(&pair[b], two, 2);
    }
  }
  uint32_t Of(uint32_t i) const {
    const uint16_t word[2] = {pair[(i >> 8) & 0xFF], pair[i & 0xFF]};
    uint32_t digits;
    std::memcpy(&digits, word, 4);
    return digits;
  }
};

// The version file's text up to its first NUL; the "unknown" text when it
// cannot be read.
std::string ReadVersionText(ReadOnlyFile::Status status, const ReadOnlyFile& file, std::string& bytes) {
  if (status != ReadOnlyFile::Status::Ok || !file.ReadAll(bytes)) return kVersionUnknown;
  return std::string(bytes.c_str());
}

// What every reader of the store relies on, and what shows that a table and
// a text were written together:
// - each record's OUI and offset fields are 14 hexadecimal digits, and its
//   name field holds a NUL;
// - the first block starts at 0, and each block starts at least 4 bytes
//   after the one before and inside the text;
// and, unless the set marker has already proved the files one set:
// - each block starts with its record's index (modulo 65536) as four
//   lower-case hexadecimal digits, as every writer of these files puts it:
//   a table paired with another set's text fails here at its first block
//   whose position differs;
// - the text holds no NUL.
// One pass over the table, which may come a block of records at a time; the
// text is looked into only without the marker, so a proven set's text is
// read from disk only as queries need it.
class TablesFit {
 public:
  TablesFit(const char* addr, size_t addrLength, bool provenSet)
      : addr_(addr), addrLength_(addrLength), proven_(provenSet) {}

  // The next `count` records.
  bool Records(const char* mac, int32_t count) {
    static_assert(std::endian::native == std::endian::little, "HexValue8 reads little-endian words");
    static const IndexDigits kIndex;
    for (int32_t k = 0; k < count; ++k, ++next_) {
      const auto* record = reinterpret_cast<const unsigned char*>(mac) + static_cast<size_t>(k) * kRecordSize;
      const uint64_t offsetDigits = Load64(record + 6);
      if (!PrefixAndOffsetAreHex(record)) return false;
      // Every writer fills the field's last byte with a NUL; anything else
      // needs a look for one.
      if (record[kRecordSize - 1] != 0 && std::memchr(record + kNameOffset, '\0', kNameFieldSize) == nullptr) {
        return false;
      }
      const size_t offset = HexValue8(offsetDigits);
      if (next_ == 0 ? offset != 0 : offset < previous_ + 4) return false;
      if (offset + size_t{4} > addrLength_) return false;
      if (!proven_) {
        uint32_t digits;
        std::memcpy(&digits, addr_ + offset, 4);
        if (digits != kIndex.Of(static_cast<uint32_t>(next_))) return false;
      }
      previous_ = offset;
    }
    return true;
  }
  // After the last record.
  bool Text() const { return proven_ || std::memchr(addr_, '\0', addrLength_) == nullptr; }

 private:
  const char* addr_;
  size_t addrLength_;
  bool proven_;
  size_t previous_ = 0;
  int32_t next_ = 0;
};

// CacheTablesFit with the table read from its file through a small buffer,
// for a table mapped in place: the check touches none of its pages.
bool CacheTablesFitAsRead(const ReadOnlyFile& mac, int32_t count, const char* addr, size_t addrLength,
                          bool provenSet) {
  constexpr int32_t kBlock = 128;
  char buffer[kBlock * kRecordSize];
  TablesFit fit(addr, addrLength, provenSet);
  for (int32_t first = 0; first < count; first += kBlock) {
    const int32_t n = std::min(kBlock, count - first);
    const size_t bytes = static_cast<size_t>(n) * kRecordSize;
    if (mac.ReadAt(buffer, bytes, static_cast<uint64_t>(first) * kRecordSize) != static_cast<ssize_t>(bytes) ||
        !fit.Records(buffer, n)) {
      return false;
    }
  }
  return fit.Text();
}

bool LoadCacheFiles() {
  ReadOnlyFile mac, addr, version, marker;
  ReadOnlyFile::Status versionStatus, markerStatus;
  {
    // Held while the files are opened: a rewrite by another process is then
    // either wholly before or wholly after. The open files stay what they are.
    std::optional<CacheDirLock> lock = CacheDirLock::Shared(kReaderLockWait);
    // Both table files are tried, the vendor table first.
    const auto macStatus = ReadOnlyFile::Open(CachePath(kCacheMacFile), kMaxCacheTableBytes, mac);
    const auto addrStatus = ReadOnlyFile::Open(CachePath(kCacheAddrFile), kMaxCacheTextBytes, addr);
    if (macStatus != ReadOnlyFile::Status::Ok || addrStatus != ReadOnlyFile::Status::Ok) return false;
    versionStatus = ReadOnlyFile::Open(CachePath(kCacheVersionFile), kMaxCacheSmallFileBytes, version);
    markerStatus = ReadOnlyFile::Open(CachePath(kCacheSetFile), kMaxCacheSmallFileBytes, marker);
  }

  const char* macData = nullptr;
  const char* addrData = nullptr;
  bool macInPlace = false;
  std::shared_ptr<const void> macMemory = mac.Snapshot(&macData, &macInPlace);
  std::shared_ptr<const void> addrMemory = addr.Snapshot(&addrData);
  if (!macMemory || !addrMemory) return false;

  std::string versionBytes;
  std::string versionText = ReadVersionText(versionStatus, version, versionBytes);
  bool proven = false;
  if (markerStatus == ReadOnlyFile::Status::Unusable) return false;
  if (markerStatus == ReadOnlyFile::Status::Ok) {
    // A set committed by an update here: the tables must be the ones it
    // committed, and the version text is shown only when it is theirs too.
    std::string markerText;
    std::optional<CacheSetMarker> set;
    if (marker.ReadAll(markerText)) set = CacheSetMarker::Parse(markerText);
    if (!set || !set->mac.Matches(mac, macData) || !set->addr.Matches(addr, addrData)) return false;
    if (versionStatus != ReadOnlyFile::Status::Ok || !set->version.Matches(version, versionBytes.data())) {
      versionText = kVersionUnknown;
    }
    proven = true;
  }
  // Without a marker the files come from an earlier version of the program;
  // the checks of their blocks are what proves them one set.
  // An incomplete last record is dropped.
  const int32_t count = static_cast<int32_t>(mac.size() / kRecordSize);
  if (!(macInPlace ? CacheTablesFitAsRead(mac, count, addrData, addr.size(), proven)
                   : CacheTablesFit(macData, count, addrData, addr.size(), proven))) {
    return false;
  }

  auto store = std::make_shared<StoreSnapshot>();
  store->macList = macData;
  store->addrList = addrData;
  store->count = count;
  store->addrLength = addr.size();
  store->memory = std::make_shared<std::pair<std::shared_ptr<const void>, std::shared_ptr<const void>>>(
      std::move(macMemory), std::move(addrMemory));
  if (macInPlace) {
    store->readTable = [file = std::make_shared<const ReadOnlyFile>(std::move(mac))](char* out, size_t n,
                                                                                     uint64_t offset) {
      return file->ReadAt(out, n, offset) == static_cast<ssize_t>(n);
    };
  }
  ReplaceStore(std::move(store));
  g_strDbVersion = std::move(versionText);
  return true;
}

}  // namespace

bool CacheTablesFit(const char* mac, int32_t count, const char* addr, size_t addrLength, bool provenSet) {
  TablesFit fit(addr, addrLength, provenSet);
  return fit.Records(mac, count) && fit.Text();
}

StorePtr BuiltinStore() {
  static const StorePtr store = [] {
    auto s = std::make_shared<StoreSnapshot>();
    s->macList = builtinMacTable[0];
    s->addrList = builtinAddrText;
    s->count = builtinCount;
    s->addrLength = builtinAddrLength;
    return s;
  }();
  return store;
}

void LoadBuiltinDatabase() { ReplaceStore(BuiltinStore()); }

void LoadDatabase() {
  g_bCachePresent = 1;
  if (!LoadCacheFiles()) {
    g_bCachePresent = 0;
    LoadBuiltinDatabase();
  }
}
