#include "update/convert.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "db/store.h"

namespace {

constexpr std::string_view kBase16 = "base 16";
constexpr std::string_view kPrivateHex = "(hex)\t\tPRIVATE";
constexpr char kPrivateLine[] = "PRIVATE\n";
// The OUI digits begin this far before "base 16", the name this far after them.
constexpr size_t kOuiBeforeBase16 = 12;
constexpr size_t kNameAfterOui = 22;
constexpr size_t kAddressIndent = 4;
constexpr size_t kMaxLineCopy = 200;
// Longest name that keeps its line feed and a NUL in the 100-byte field.
constexpr size_t kMaxNameLength = 98;

// The first occurrence of a pattern at or after a position that never moves
// back; remembers its last hit so that the text is searched once in all.
class Finder {
 public:
  Finder(std::string_view text, std::string_view pattern) : text_(text), pattern_(pattern) {}
  size_t NextFrom(size_t pos) {
    if (!searched_ || (hit_ != std::string_view::npos && hit_ < pos)) {
      hit_ = text_.find(pattern_, pos);
      searched_ = true;
    }
    return hit_;
  }

 private:
  std::string_view text_;
  std::string_view pattern_;
  size_t hit_ = std::string_view::npos;
  bool searched_ = false;
};

// `digits` lower-case hexadecimal digits of `value` (its low ones only when
// it has more), zero-padded.
void WriteHex(char* out, size_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
}

// A zero-filled C-heap block that grows (keeping zero fill) on demand.
void Grow(char*& block, size_t& capacity, size_t needed) {
  if (needed <= capacity) return;
  size_t grown = capacity * 2 > needed ? capacity * 2 : needed;
  char* p = static_cast<char*>(std::realloc(block, grown));
  if (p == nullptr) throw std::bad_alloc();
  std::memset(p + capacity, 0, grown - capacity);
  block = p;
  capacity = grown;
}

}  // namespace

ConvertedStore::~ConvertedStore() {
  std::free(addrList);
  std::free(macList);
}

void TextModeNewlines(std::string& text) {
  size_t out = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') continue;
    text[out++] = text[i];
  }
  text.resize(out);
}

void LineFeedsToGt(char* addrText, size_t length) {
  for (char* p = addrText; (p = static_cast<char*>(std::memchr(p, '\n', length - (p - addrText)))) != nullptr;) {
    *p++ = '>';
  }
}

bool BuildStoreFromListing(std::string& listing, ConvertedStore& out) {
  // A NUL inside the listing ends it.
  const size_t n = std::strlen(listing.c_str());
  char* const t = listing.data();

  // One pass cleans the text, looks for '>' and counts "hex": the tables are
  // sized from that count, as the stored formats expect; they grow when a
  // listing has more entries or longer blocks than that.
  bool refused = false;
  size_t hexCount = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    if (c > 0x80) {
      t[i] = '*';
    } else if (c == '"' || c == '\\') {
      t[i] = '~';
    } else if (c == '>') {
      refused = true;
    } else if (c == 'h' && n - i >= 3 && t[i + 1] == 'e' && t[i + 2] == 'x') {
      ++hexCount;
      i += 2;
    }
  }
  if (refused) return false;
  const std::string_view text(t, n);

  size_t macCapacity = hexCount * kRecordSize;
  size_t addrCapacity = hexCount * kAddrBytesPerRecord;
  char* mac = static_cast<char*>(std::calloc(macCapacity ? macCapacity : 1, 1));
  char* addr = static_cast<char*>(std::calloc(addrCapacity ? addrCapacity : 1, 1));
  if (mac == nullptr || addr == nullptr) {
    std::free(mac);
    std::free(addr);
    throw std::bad_alloc();
  }
  if (macCapacity == 0) macCapacity = 1;
  if (addrCapacity == 0) addrCapacity = 1;

  // Whether an entry is private depends on which comes first from its start:
  // the next "(hex)\t\tPRIVATE" or the next "base 16". The scan position only
  // moves forward, so each is searched again only once the scan has passed
  // the last hit: one pass over the text in all.
  Finder base16(text, kBase16);
  Finder privates(text, kPrivateHex);

  int32_t count = 0;
  size_t w = 0;  // write position in the address text
  size_t p = 0;  // scan position in the listing
  auto emit = [&](const char* bytes, size_t len) {
    Grow(addr, addrCapacity, w + len + 1);  // keep room for the final NUL
    std::memcpy(addr + w, bytes, len);
    w += len;
  };

  for (;;) {
    const size_t hit = base16.NextFrom(p);
    if (hit == std::string_view::npos) break;
    const bool isPrivate = privates.NextFrom(p) < hit;
    if (hit < kOuiBeforeBase16) {  // no room for the digits before it
      p = hit + kBase16.size();
      continue;
    }
    const size_t d = hit - kOuiBeforeBase16;

    Grow(mac, macCapacity, (static_cast<size_t>(count) + 1) * kRecordSize);
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
      emit(kPrivateLine, sizeof kPrivateLine - 1);
    } else if (p < n && t[p] == '\n') {
      // No address line at all: one empty line, and the empty line ends
      // this entry rather than the next one.
      emit("\n", 1);
      ++p;
    } else {
      while (p < n) {
        p = p + kAddressIndent < n ? p + kAddressIndent : n;
        if (p == n) break;
        size_t limit = n - p < kMaxLineCopy ? n - p : kMaxLineCopy;
        const char* lf = static_cast<const char*>(std::memchr(t + p, '\n', limit));
        size_t len = lf ? static_cast<size_t>(lf - (t + p)) + 1 : limit;
        emit(t + p, len);
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
  std::free(out.addrList);
  std::free(out.macList);
  out.macList = mac;
  out.addrList = addr;
  out.count = count;
  out.macCapacity = macCapacity;
  out.addrCapacity = addrCapacity;
  out.addrLength = w;
  return true;
}

bool ConvertListing(std::string& text) {
  ConvertedStore built;
  if (!BuildStoreFromListing(text, built)) return true;
  ReplaceStore(built.macList, built.addrList, built.count);
  built.macList = nullptr;
  built.addrList = nullptr;
  return false;
}
