#include "vessarine/listing/convert.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "vessarine/store/store.h"

namespace {

constexpr std::string_view kBase16 = "base 16";
constexpr std::string_view kPrivateHex = "(hex)\t\tPRIVATE";
constexpr char kPrivateLine[] = "PRIVATE\n";
// The same line in the address text, where every line ends in '>' (the form
// of the cache files and the built-in copy).
constexpr char kPrivateBlockLine[] = "PRIVATE>";
// The OUI digits begin this far before "base 16", the name this far after them.
constexpr size_t kOuiBeforeBase16 = 12;
constexpr size_t kNameAfterOui = 22;
constexpr size_t kAddressIndent = 4;
constexpr size_t kMaxLineCopy = 200;
// Longest name that keeps its line feed and a NUL in the 100-byte field.
constexpr size_t kMaxNameLength = 98;

// Bytes cleaned and checked at a time: small enough to stay in the cache.
constexpr size_t kChunk = 64 * 1024;

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

bool IsPrefix(const char* digits) {
  for (int i = 0; i < 6; ++i) {
    const char c = digits[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// `digits` lower-case hexadecimal digits of `value` (its low ones only when
// it has more), zero-padded.
void WriteHex(char* out, size_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = "0123456789abcdef"[value & 0xF];
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

// Grows a C-heap block on demand, zero-filling the new part when asked.
void Grow(char*& block, size_t& capacity, size_t needed, bool zeroFill) {
  if (needed <= capacity) return;
  size_t grown = capacity * 2 > needed ? capacity * 2 : needed;
  char* p = static_cast<char*>(std::realloc(block, grown));
  if (p == nullptr) throw std::bad_alloc();
  if (zeroFill) std::memset(p + capacity, 0, grown - capacity);
  block = p;
  capacity = grown;
}

}  // namespace

void TextModeNewlines(std::string& text) {
  size_t out = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') continue;
    text[out++] = text[i];
  }
  text.resize(out);
}

StorePtr ConvertListing(std::string& listing) {
  // One pass, a cache-sized chunk at a time, finds the end of the text (a
  // NUL inside the listing ends it), cleans it, looks for '>' and counts
  // "hex": the tables are sized from that count, as the stored formats
  // expect, and grow when a listing has more entries or longer blocks.
  static const CleanMap kClean;
  char* const t = listing.data();
  const size_t size = listing.size();
  size_t n = 0;
  size_t hexCount = 0;
  while (n < size) {
    size_t len = size - n < kChunk ? size - n : kChunk;
    const void* nul = std::memchr(t + n, '\0', len);
    if (nul != nullptr) len = static_cast<size_t>(static_cast<const char*>(nul) - (t + n));
    char* chunk = t + n;
    for (size_t i = 0; i < len; ++i) chunk[i] = kClean.to[static_cast<unsigned char>(chunk[i])];
    if (std::memchr(chunk, '>', len) != nullptr) return nullptr;
    // Cleaning never makes or unmakes an 'h', 'e' or 'x', so a "hex" that
    // runs into the next chunk is counted here already.
    for (const char* h = chunk; (h = static_cast<const char*>(std::memchr(h, 'h', len - (h - chunk)))) != nullptr; ++h) {
      if (h[1] == 'e' && h[2] == 'x') ++hexCount;
    }
    n += len;
    if (nul != nullptr) break;
  }
  const std::string_view text(t, n);

  size_t macCapacity = hexCount * kRecordSize;
  size_t addrCapacity = hexCount * kAddrBytesPerRecord;
  // Records are NUL-filled; the address text is only ever read up to its
  // terminating NUL, so its unused capacity is left as it comes.
  HeapBlock macBlock{static_cast<char*>(std::calloc(macCapacity ? macCapacity : 1, 1))};
  HeapBlock addrBlock{static_cast<char*>(std::malloc(addrCapacity ? addrCapacity : 1))};
  if (macBlock.p == nullptr || addrBlock.p == nullptr) throw std::bad_alloc();
  if (macCapacity == 0) macCapacity = 1;
  if (addrCapacity == 0) addrCapacity = 1;
  // Worked on through plain locals, which the compiler can keep in
  // registers; the blocks follow every reallocation.
  char* mac = macBlock.p;
  char* addr = addrBlock.p;
  AdviseHugePages(mac, macCapacity);
  AdviseHugePages(addr, addrCapacity);

  int32_t count = 0;
  size_t w = 0;  // write position in the address text
  size_t p = 0;  // scan position in the listing
  auto emit = [&](const char* bytes, size_t len) {
    if (w + len + 1 > addrCapacity) {  // keep room for the final NUL
      Grow(addrBlock.p, addrCapacity, w + len + 1, false);
      addr = addrBlock.p;
    }
    std::memcpy(addr + w, bytes, len);
    w += len;
  };

  for (;;) {
    // Every search starts past the previous entry's "base 16", so the text
    // is read once in all. An entry is private when "(hex)\t\tPRIVATE" comes
    // before its "base 16".
    const size_t hit = text.find(kBase16, p);
    if (hit == std::string_view::npos) break;
    const bool isPrivate = text.substr(p, hit - p).find(kPrivateHex) != std::string_view::npos;
    // No room for the digits before it, or no prefix there: not an entry.
    // A record whose prefix is not six hexadecimal digits could never be
    // looked up, and the cache files holding it would be refused as damaged.
    if (hit < kOuiBeforeBase16 || !IsPrefix(t + hit - kOuiBeforeBase16)) {
      p = hit + kBase16.size();
      continue;
    }
    const size_t d = hit - kOuiBeforeBase16;

    if ((static_cast<size_t>(count) + 1) * kRecordSize > macCapacity) {
      Grow(macBlock.p, macCapacity, (static_cast<size_t>(count) + 1) * kRecordSize, true);
      mac = macBlock.p;
    }
    char* record = mac + static_cast<size_t>(count) * kRecordSize;
    std::memcpy(record, t + d, 6);
    WriteHex(record + 6, w, 8);

    char* name = record + kNameOffset;
    p = d + kNameAfterOui < n ? d + kNameAfterOui : n;
    if (isPrivate) {
      std::memcpy(name, kPrivateLine, sizeof kPrivateLine - 1);
    } else {
      const char* lf = static_cast<const char*>(std::memchr(t + p, '\n', n - p));
      size_t lineEnd = lf ? static_cast<size_t>(lf - t) : n;
      size_t len = lineEnd - p;
      if (len > kMaxNameLength) len = kMaxNameLength;  // keep the line feed and a NUL
      std::memcpy(name, t + p, len);
      if (lf != nullptr) name[len] = '\n';
      p = lf ? lineEnd + 1 : n;
    }

    char index[4];
    WriteHex(index, static_cast<size_t>(count), 4);  // the index modulo 65536
    emit(index, 4);

    if (isPrivate) {
      emit(kPrivateBlockLine, sizeof kPrivateBlockLine - 1);
    } else if (p < n && t[p] == '\n') {
      // No address line at all: one empty line, and the empty line ends
      // this entry rather than the next one.
      emit(">", 1);
      ++p;
    } else {
      while (p < n) {
        p = p + kAddressIndent < n ? p + kAddressIndent : n;
        if (p == n) break;
        size_t limit = n - p < kMaxLineCopy ? n - p : kMaxLineCopy;
        const char* lf = static_cast<const char*>(std::memchr(t + p, '\n', limit));
        size_t len = lf ? static_cast<size_t>(lf - (t + p)) + 1 : limit;
        emit(t + p, len);
        if (lf != nullptr) addr[w - 1] = '>';
        p += len;
        if (p < n && t[p] == '\n') {
          ++p;
          break;
        }
      }
    }
    ++count;
  }

  addr[w] = '\0';
  char* macList = macBlock.release();
  return StoreSnapshot::FromHeap(macList, addrBlock.release(), count, w);
}
