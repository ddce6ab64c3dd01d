// Finds MAC addresses in free text: aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff
// and aabb.ccdd.eeff in any case, where neither the byte before nor the
// byte after is a hex digit or the address's own separator (so IPv6
// addresses, longer colon or dot runs and long hex keys are not taken).
//
// Hand-written rather than a regular expression engine: one table lookup
// per byte finds the starts of hex runs, and only those are examined, which
// keeps the scan far faster than the output it feeds; it also needs no
// library and works on any bytes (NULs, invalid UTF-8) as they come.
#pragma once

#include <cstddef>
#include <cstdint>

namespace registry {

namespace scan_detail {

struct HexTable {
  signed char v[256];
  constexpr HexTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = -1;
    for (int i = 0; i < 10; ++i) v['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
      v['a' + i] = static_cast<signed char>(10 + i);
      v['A' + i] = static_cast<signed char>(10 + i);
    }
  }
};
inline constexpr HexTable kHex;

inline int Hex(const char* text, size_t i) { return kHex.v[static_cast<unsigned char>(text[i])]; }

}  // namespace scan_detail

// Longest notation plus the byte after it.
inline constexpr size_t kScanLookahead = 18;

// Examines candidate starts in text[from, to). Bytes up to text[size) may
// be read; until the stream's end, the caller keeps to + kScanLookahead <=
// size so an address starting before `to` is whole in the buffer (past
// text[size) counts as the end of the stream). `before` is the byte
// preceding text[0] (-1 at the start of the stream). Calls
// found(offset, length, value) for each address, in order, and returns
// where scanning stopped (>= to; past `to` when an address straddles it).
template <class Found>
size_t ScanAddresses(const char* text, size_t from, size_t to, size_t size, int before, Found&& found) {
  using scan_detail::Hex;
  auto byteAt = [&](size_t i) -> int {
    if (i < size) return static_cast<unsigned char>(text[i]);
    return -1;
  };
  auto isHexAt = [&](size_t i) { return i < size && Hex(text, i) >= 0; };
  int prev = from == 0 ? before : static_cast<unsigned char>(text[from - 1]);
  bool prevHex = prev >= 0 && scan_detail::kHex.v[prev] >= 0;
  size_t p = from;
  while (p < to) {
    const bool hex = Hex(text, p) >= 0;
    if (!hex || prevHex) {
      prevHex = hex;
      ++p;
      continue;
    }
    // text[p] starts a hex run.
    const int prevByte = p == 0 ? before : static_cast<unsigned char>(text[p - 1]);
    uint64_t value = 0;
    size_t length = 0;
    const int sep2 = byteAt(p + 2);
    if ((sep2 == ':' || sep2 == '-') && isHexAt(p + 1) && prevByte != sep2) {
      length = 17;
      for (size_t g = 0; g < 6; ++g) {
        const size_t at = p + 3 * g;
        if (!isHexAt(at) || !isHexAt(at + 1) || (g < 5 && byteAt(at + 2) != sep2)) {
          length = 0;
          break;
        }
        value = (value << 8) | static_cast<uint64_t>(Hex(text, at) << 4 | Hex(text, at + 1));
      }
      if (length != 0) {
        const int after = byteAt(p + 17);
        if (after == sep2 || isHexAt(p + 17)) length = 0;
      }
    } else if (byteAt(p + 4) == '.' && prevByte != '.') {
      length = 14;
      for (size_t g = 0; g < 3; ++g) {
        const size_t at = p + 5 * g;
        for (size_t k = 0; k < 4; ++k) {
          if (!isHexAt(at + k)) {
            length = 0;
            break;
          }
          value = (value << 4) | static_cast<uint64_t>(Hex(text, at + k));
        }
        if (length == 0 || (g < 2 && byteAt(at + 4) != '.')) {
          length = 0;
          break;
        }
      }
      if (length != 0) {
        const int after = byteAt(p + 14);
        if (after == '.' || isHexAt(p + 14)) length = 0;
      }
    }
    if (length != 0) {
      found(p, length, value);
      p += length;  // text[p] is now the byte after, neither hex nor separator
      prevHex = true;
      continue;
    }
    prevHex = true;
    ++p;
  }
  return p;
}

}  // namespace registry
