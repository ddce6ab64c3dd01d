// Finds MAC addresses in free text: aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff
// and aabb.ccdd.eeff in any case, where neither the byte before nor the
// byte after is a hex digit or the address's own separator (so IPv6
// addresses, longer colon or dot runs and long hex keys are not taken).
//
// Hand-written rather than a regular expression engine: with SSE2, 64 bytes
// at a time are classified (hex digit, ':' or '-', '.') into bit masks, and
// the masks' shifts leave only the positions where a whole notation fits;
// each of those few is then checked exactly. That runs at several bytes per
// cycle, so annotate's speed is the output's, and it needs no library and
// takes any bytes (NULs, invalid UTF-8) as they come.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace scan_detail {

// Length of the address starting at text[p] (17 or 14), or 0. `before` is
// the byte before text[0], -1 for none; bytes from text[size] on count as
// the end of the stream.
inline size_t MatchAt(const char* text, size_t p, size_t size, int before, uint64_t* value) {
  auto byteAt = [&](size_t i) -> int { return i < size ? static_cast<unsigned char>(text[i]) : -1; };
  auto isHexAt = [&](size_t i) { return i < size && Hex(text, i) >= 0; };
  const int prevByte = p == 0 ? before : static_cast<unsigned char>(text[p - 1]);
  if (!isHexAt(p) || (prevByte >= 0 && kHex.v[prevByte] >= 0)) return 0;
  uint64_t v = 0;
  const int sep2 = byteAt(p + 2);
  if ((sep2 == ':' || sep2 == '-') && prevByte != sep2) {
    for (size_t g = 0; g < 6; ++g) {
      const size_t at = p + 3 * g;
      if (!isHexAt(at) || !isHexAt(at + 1) || (g < 5 && byteAt(at + 2) != sep2)) return 0;
      v = (v << 8) | static_cast<uint64_t>(Hex(text, at) << 4 | Hex(text, at + 1));
    }
    if (byteAt(p + 17) == sep2 || isHexAt(p + 17)) return 0;
    *value = v;
    return 17;
  }
  if (byteAt(p + 4) == '.' && prevByte != '.') {
    for (size_t g = 0; g < 3; ++g) {
      const size_t at = p + 5 * g;
      for (size_t k = 0; k < 4; ++k) {
        if (!isHexAt(at + k)) return 0;
        v = (v << 4) | static_cast<uint64_t>(Hex(text, at + k));
      }
      if (g < 2 && byteAt(at + 4) != '.') return 0;
    }
    if (byteAt(p + 14) == '.' || isHexAt(p + 14)) return 0;
    *value = v;
    return 14;
  }
  return 0;
}

#if defined(__SSE2__)
struct Masks {
  uint64_t hex, sep, dot;  // bit i: byte i is a hex digit / ':' or '-' / '.'
};

inline __m128i InRange(__m128i v, char low, char span) {
  const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(low));
  const __m128i limit = _mm_set1_epi8(span);
  return _mm_cmpeq_epi8(_mm_max_epu8(t, limit), limit);  // unsigned t <= span
}

inline Masks Classify64(const char* p) {
  Masks m{0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i hex = _mm_or_si128(InRange(v, '0', 9), InRange(lower, 'a', 5));
    const __m128i sep = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(':')), _mm_cmpeq_epi8(v, _mm_set1_epi8('-')));
    const __m128i dot = _mm_cmpeq_epi8(v, _mm_set1_epi8('.'));
    m.hex |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hex))) << (16 * i);
    m.sep |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(sep))) << (16 * i);
    m.dot |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(dot))) << (16 * i);
  }
  return m;
}

// Bit i of the result: bit i + k of the 128-bit value (high:low), 0 < k < 64.
inline uint64_t Ahead(uint64_t low, uint64_t high, int k) { return (low >> k) | (high << (64 - k)); }

// Positions in this 64-byte block where a notation's digits and separators
// all fit (`next` holds the following block's masks).
inline uint64_t Candidates(const Masks& cur, const Masks& next, uint64_t prevHex) {
  auto h = [&](int k) { return k == 0 ? cur.hex : Ahead(cur.hex, next.hex, k); };
  auto s = [&](int k) { return Ahead(cur.sep, next.sep, k); };
  auto d = [&](int k) { return Ahead(cur.dot, next.dot, k); };
  const uint64_t starts = cur.hex & ~((cur.hex << 1) | prevHex);
  uint64_t colon = starts & h(1) & s(2) & h(3) & h(4) & s(5) & h(6) & h(7) & s(8) & h(9) & h(10) & s(11) &
                   h(12) & h(13) & s(14) & h(15) & h(16) & ~h(17);
  uint64_t dots = starts & h(1) & h(2) & h(3) & d(4) & h(5) & h(6) & h(7) & h(8) & d(9) & h(10) & h(11) &
                  h(12) & h(13) & ~h(14);
  return colon | dots;
}
#endif

}  // namespace scan_detail

// Examines candidate starts in text[from, to). Bytes up to text[size) may
// be read; until the stream's end, the caller keeps to + kScanLookahead <=
// size so an address starting before `to` is whole in the buffer (past
// text[size) counts as the end of the stream). `before` is the byte
// preceding text[0] (-1 at the start of the stream). Calls
// found(offset, length, value) for each address, in order, and returns
// where scanning stopped (>= to; past `to` when an address straddles it).
template <class Found>
size_t ScanAddresses(const char* text, size_t from, size_t to, size_t size, int before, Found&& found) {
  size_t p = from;
  uint64_t value = 0;
#if defined(__SSE2__)
  // Whole blocks while the next block's bytes are there to look ahead into.
  if (p + 128 <= size && p + 64 <= to) {
    scan_detail::Masks cur = scan_detail::Classify64(text + p);
    const int prev = p == 0 ? before : static_cast<unsigned char>(text[p - 1]);
    uint64_t prevHex = prev >= 0 && scan_detail::kHex.v[prev] >= 0 ? 1 : 0;
    size_t resume = p;  // no address starts before this
    while (p + 128 <= size && p + 64 <= to) {
      const scan_detail::Masks next = scan_detail::Classify64(text + p + 64);
      uint64_t candidates = scan_detail::Candidates(cur, next, prevHex);
      while (candidates != 0) {
        const size_t at = p + static_cast<size_t>(__builtin_ctzll(candidates));
        candidates &= candidates - 1;
        if (at < resume) continue;
        if (size_t length = scan_detail::MatchAt(text, at, size, before, &value)) {
          found(at, length, value);
          resume = at + length;
        }
      }
      prevHex = cur.hex >> 63;
      cur = next;
      p += 64;
    }
    p = p > resume ? p : resume;
  }
#endif
  while (p < to) {
    if (size_t length = scan_detail::MatchAt(text, p, size, before, &value)) {
      found(p, length, value);
      p += length;
    } else {
      ++p;
    }
  }
  return p;
}

}  // namespace registry
