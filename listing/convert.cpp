#include "vessarine/listing/convert.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "vessarine/store/store.h"

namespace listing {

namespace {

// What follows "(hex)" on a "PRIVATE" entry's line in the older listings.
constexpr std::string_view kPrivateHex = "\t\tPRIVATE";
constexpr char kPrivateLine[] = "PRIVATE\n";
// The same line in the address text, where every line ends in '>' (the form
// of the cache files and the built-in copy).
constexpr char kPrivateBlockLine[] = "PRIVATE>";
// Longest name that keeps its line feed and a NUL in the 100-byte field.
constexpr size_t kMaxNameLength = 98;
// Longest piece of an address line copied at once, its line end included.
constexpr size_t kMaxLineCopy = 200;

// What cleaning makes of each byte: above 0x80 '*', a double quote or a
// backslash '~', every other byte (0x80 included) itself.
struct CleanMap {
  char to[256];
  CleanMap() {
    for (int c = 0; c < 256; ++c) to[c] = static_cast<char>(c);
    for (int c = 0x81; c < 256; ++c) to[c] = '*';
    to[static_cast<unsigned char>('"')] = '~';
    to[static_cast<unsigned char>('\\')] = '~';
  }
};

bool IsPrivate(const ListedEntry& e) { return !e.csv && e.name.substr(0, kPrivateHex.size()) == kPrivateHex; }

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// `digits` hexadecimal digits of `value` (its low ones only when it has
// more), zero-padded.
void WriteHex(char* out, uint64_t value, int digits, const char* alphabet) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = alphabet[value & 0xF];
    value >>= 4;
  }
}

// The new tables are large and written once, front to back: huge pages,
// where the system offers them, spare most of their page faults and TLB
// misses. Only advice: the blocks stay ordinary C-heap blocks.
void AdviseHugePages(char* block, size_t size) {
  constexpr uintptr_t kPage = 4096;
  uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// A C-heap block that is freed unless handed over.
struct HeapBlock {
  char* p = nullptr;
  ~HeapBlock() { std::free(p); }
  char* release() { return std::exchange(p, nullptr); }
};

// Cleans `len` bytes into `out`; false when they hold a '>'.
bool CleanInto(char* out, const char* bytes, size_t len) {
  static const CleanMap kClean;
  for (size_t i = 0; i < len; ++i) out[i] = kClean.to[static_cast<unsigned char>(bytes[i])];
  return std::memchr(out, '>', len) == nullptr;
}

// The record's name field: the name cut to fit, then its line feed.
bool WriteName(char* field, const ListedEntry& e) {
  if (IsPrivate(e)) {
    std::memcpy(field, kPrivateLine, sizeof kPrivateLine - 1);
    return true;
  }
  // The text form's name begins two columns after "(base 16)".
  std::string_view name = e.csv ? e.name : e.baseName.substr(std::min<size_t>(2, e.baseName.size()));
  name = name.substr(0, kMaxNameLength);
  field[name.size()] = '\n';
  return CleanInto(field, name.data(), name.size());
}

// The address lines of an entry's block from `addr + w` on, each without its
// indentation and ended by '>'; `w` moves past them. False on a '>'.
bool WriteAddress(char* addr, size_t& w, const ListedEntry& e) {
  if (IsPrivate(e)) {
    std::memcpy(addr + w, kPrivateBlockLine, sizeof kPrivateBlockLine - 1);
    w += sizeof kPrivateBlockLine - 1;
    return true;
  }
  if (e.address.empty()) {
    addr[w++] = '>';  // one empty line
    return true;
  }
  for (std::string_view rest = e.address; !rest.empty();) {
    const size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t skip = 0;
    while (skip < e.indent && skip < line.size() && (line[skip] == '\t' || line[skip] == ' ')) ++skip;
    // At most 200 bytes a piece, the line end included: a longer line goes
    // on as a further piece, as the next line would, 4 bytes on.
    for (line.remove_prefix(skip); line.size() >= kMaxLineCopy; line.remove_prefix(std::min<size_t>(4, line.size()))) {
      if (!CleanInto(addr + w, line.data(), kMaxLineCopy)) return false;
      w += kMaxLineCopy;
      line.remove_prefix(kMaxLineCopy);
    }
    if (!CleanInto(addr + w, line.data(), line.size())) return false;
    w += line.size();
    addr[w++] = '>';
  }
  return true;
}

}  // namespace

StorePtr StoreFromListing(const ParsedListing& parsed) {
  const size_t count = parsed.entries.size();
  // Every block fits its address bytes, its index and the longest fixed line.
  size_t addrCapacity = 1;
  for (const ListedEntry& e : parsed.entries) addrCapacity += e.address.size() + 4 + sizeof kPrivateBlockLine;
  HeapBlock macBlock{static_cast<char*>(std::calloc(count ? count * kRecordSize : 1, 1))};
  HeapBlock addrBlock{static_cast<char*>(std::malloc(addrCapacity))};
  if (macBlock.p == nullptr || addrBlock.p == nullptr) throw std::bad_alloc();
  AdviseHugePages(macBlock.p, count * kRecordSize);
  AdviseHugePages(addrBlock.p, addrCapacity);

  char* addr = addrBlock.p;
  size_t w = 0;
  for (size_t i = 0; i < count; ++i) {
    const ListedEntry& e = parsed.entries[i];
    char* record = macBlock.p + i * kRecordSize;
    WriteHex(record, e.prefix, 6, kUpperDigits);
    WriteHex(record + 6, w, 8, kLowerDigits);
    WriteHex(addr + w, i, 4, kLowerDigits);  // the index modulo 65536
    w += 4;
    if (!WriteName(record + kNameOffset, e) || !WriteAddress(addr, w, e)) return nullptr;
  }
  addr[w] = '\0';
  char* macList = macBlock.release();
  return StoreSnapshot::FromHeap(macList, addrBlock.release(), static_cast<int32_t>(count), w);
}

std::string StoreCompanyText(std::string_view organization, std::string_view address) {
  static const CleanMap kClean;
  std::string text;
  auto append = [&text](std::string_view part) {
    for (char c : part) text.push_back(kClean.to[static_cast<unsigned char>(c)]);
    text.push_back('\n');
  };
  append(organization.substr(0, kMaxNameLength));
  if (address.empty()) text.push_back('\n');  // one empty line, as a record without address lines has
  for (size_t nl; !address.empty(); address.remove_prefix(nl == std::string_view::npos ? address.size() : nl + 1)) {
    nl = address.find('\n');
    append(address.substr(0, nl));
  }
  return text;
}

StorePtr ConvertListing(std::string_view listing) {
  const ParsedListing parsed = ParseListing(listing, Registry::MaL);
  return parsed.ok() ? StoreFromListing(parsed) : nullptr;
}

}  // namespace listing
