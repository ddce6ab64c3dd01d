// Finds identifiers in free text, in any case; the fast scan below picks
// out candidates and the reader's exact checks (identifier.h) decide:
// - aa:bb:cc:dd:ee:ff and 0:c:29:aa:bb:cc (one or two digits a byte, a
//   one-digit byte only beside a two-digit one, as macOS's arp writes them),
//   aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff, aabb-ccdd-eeff (Huawei) and
//   aabbcc-ddeeff (HP), where neither the byte before nor the byte after is
//   a hex digit or the address's own separator, so IPv6 addresses, longer
//   colon, dash or dot runs, UUIDs and long hex keys are not taken; an
//   address with a one-digit byte has no letter, digit or '_' right before
//   or after it either;
// - EUI-64s of eight two-digit groups standing apart in the same way;
// - EUI-64s and World Wide Names after a marker: "eui.", "naa." or
//   "wwn-0x" and 16 digits (32 for a 128-bit WWN), with no letter, digit or
//   '_' before the marker or after the digits. No other "0x" number is
//   taken: pointers and hashes are everywhere in logs;
// - IPv6 addresses whose interface identifier is a modified EUI-64
//   (ipv6.h), in hexadecimal groups, with an optional zone (%eth0) and
//   prefix length (/64): the whole token is the find, its value the MAC
//   inside. The groups are a run of hex digits and colons; the byte before
//   it is no letter, digit, '_' or '.'. One ':' ending the run ("from
//   fe80::...:5b7c: up") is punctuation, not part of the address, and then
//   no letter, digit or '_' may follow. Otherwise a zone may follow: '%'
//   and the run of letters, digits, '_', '-' and '.' after it but for one
//   '.' ending it, 1 to 15 bytes; then a prefix length: '/' and 1 to 3
//   digits up to 128. The byte after the token is no letter, digit, '_',
//   ':', '%' or '/'; a '.' after it must not be followed by a letter or '_'
//   (a digit is fine: tcpdump's "fe80::...:5b7c.546"), nor by a digit when
//   the last group is one to three decimal digits (a dotted IPv4 tail).
//
// Hand-written rather than a regular expression engine: with SSE2, 64 bytes
// at a time are classified (hex digit, ':', any separator, 'f') into bit
// masks, and the masks' shifts leave only the positions
// where a whole notation fits, and for IPv6 those holding "ff:f", which the
// "ff:fe" of every modified EUI-64 written in groups begins with; each of
// those few is then checked exactly.
// That runs at several bytes per cycle, so annotate's speed is the
// output's, and it needs no library and takes any bytes (NULs, invalid
// UTF-8) as they come.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vessarine/identifier/identifier.h"
#include "vessarine/identifier/ipv6.h"
#include "vessarine/store/bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace identifier {

namespace scan_detail {

inline bool IsHexByte(int c) { return c >= 0 && HexDigitValue(static_cast<char>(c)) >= 0; }
inline bool IsRunByte(int c) { return c == ':' || IsHexByte(c); }

// Longest IPv6 token: the groups, '%', the zone, '/', three digits.
inline constexpr size_t kMaxIpv6Token = kMaxIpv6HexText + 1 + kMaxIpv6Zone + 4;

}  // namespace scan_detail

// Longest notation plus the bytes after it that decide whether it stands
// alone (an IPv6 token and two bytes).
inline constexpr size_t kScanLookahead = scan_detail::kMaxIpv6Token + 2;

namespace scan_detail {

#if defined(__SSE2__)
struct Masks {
  // bit i: byte i is a hex digit / ':' / ':', '-' or '.' / 'f' or 'F'
  uint64_t hex, colon, sep, f;
};

inline __m128i InRange(__m128i v, char low, char span) {
  const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(low));
  const __m128i limit = _mm_set1_epi8(span);
  return _mm_cmpeq_epi8(_mm_max_epu8(t, limit), limit);  // unsigned t <= span
}

inline uint64_t Bits(__m128i v) { return static_cast<uint16_t>(_mm_movemask_epi8(v)); }

// One 16-byte quarter of a block, its bits at position 16 * Quarter.
template <int Quarter>
inline void Classify16(const char* p, Masks* m) {
  constexpr int shift = 16 * Quarter;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + shift));
  const __m128i lower = _mm_or_si128(v, _mm_set1_epi8(0x20));
  const __m128i colon = _mm_cmpeq_epi8(v, _mm_set1_epi8(':'));
  m->hex |= Bits(_mm_or_si128(InRange(v, '0', 9), InRange(lower, 'a', 5))) << shift;
  m->colon |= Bits(colon) << shift;
  // '-' is 0x2D and '.' 0x2E: one range.
  m->sep |= Bits(_mm_or_si128(colon, InRange(v, '-', 1))) << shift;
  m->f |= Bits(_mm_cmpeq_epi8(lower, _mm_set1_epi8('f'))) << shift;
}

[[gnu::always_inline]] inline Masks Classify64(const char* p) {
  Masks m{0, 0, 0, 0};
  Classify16<0>(p, &m);
  Classify16<1>(p, &m);
  Classify16<2>(p, &m);
  Classify16<3>(p, &m);
  return m;
}

// Bit i of the result: bit i + k of the 128-bit value (high:low), 0 < k < 64.
inline uint64_t Ahead(uint64_t low, uint64_t high, int k) { return (low >> k) | (high << (64 - k)); }

// Two blocks' bits: position i of lo, then position 64 + i of hi; shifts
// move bits toward position 0, zeros coming in from past the second block.
struct Wide2 {
  uint64_t lo, hi;
  Wide2 operator>>(int k) const { return {(lo >> k) | (hi << (64 - k)), hi >> k}; }
  Wide2 operator&(const Wide2& o) const { return {lo & o.lo, hi & o.hi}; }
  Wide2 operator|(const Wide2& o) const { return {lo | o.lo, hi | o.hi}; }
  Wide2 operator~() const { return {~lo, ~hi}; }
};

// What the patterns need of one block, worked out once from its masks and
// the following block's: bit i tells of the bytes from position i on.
struct Derived {
  uint64_t hex, colon;
  uint64_t pairSep;  // two hex digits, then a separator
  uint64_t pair;     // two hex digits
  uint64_t quadSep;  // four hex digits, then a separator
  uint64_t quad;     // four hex digits
  uint64_t sixSep;   // six hex digits, then a separator
  uint64_t six;      // six hex digits
  uint64_t trigger;  // "ff:f" in any case
  // Where a one-digit byte of a colon address can be: the first, followed
  // by ':' and a digit; or after a colon and before no digit. A superset.
  uint64_t single;
};

[[gnu::always_inline]] inline Derived Derive(const Masks& x, const Masks& y, uint64_t prevHex, uint64_t prevColon) {
  auto h = [&](int k) { return Ahead(x.hex, y.hex, k); };
  auto s = [&](int k) { return Ahead(x.sep, y.sep, k); };
  auto c = [&](int k) { return Ahead(x.colon, y.colon, k); };
  auto f = [&](int k) { return Ahead(x.f, y.f, k); };
  Derived d;
  d.hex = x.hex;
  d.colon = x.colon;
  const uint64_t h1 = h(1), h2 = h(2), c1 = c(1);
  d.pair = x.hex & h1;
  d.pairSep = d.pair & s(2);
  d.quad = d.pair & h2 & h(3);
  d.quadSep = d.quad & s(4);
  d.six = d.quad & h(4) & h(5);
  d.sixSep = d.six & s(6);
  d.trigger = x.f & f(1) & c(2) & f(3);
  const uint64_t colonBefore = (x.colon << 1) | prevColon, hexBefore = (x.hex << 1) | prevHex;
  d.single = x.hex & ((colonBefore & ~h1) | (~hexBefore & c1 & h2));
  return d;
}

struct Candidates {
  uint64_t mac;     // starts where a MAC notation's digits and separators fit
  uint64_t ipv6;    // "ff:f" in any case
  uint64_t marked;  // twelve digits or more where a marker can end right before
};

// Positions in this 64-byte block (`cur` and `next` its and the following
// block's derived masks, `curRaw` and `nextRaw` their masks; prevHex and
// prevColon tell of the byte before the block).
[[gnu::always_inline]] inline Candidates FindCandidates(const Derived& cur, const Derived& next, const Masks& curRaw, const Masks& nextRaw,
                                 uint64_t prevHex, uint64_t prevColon, uint64_t prevMarks) {
  auto a = [](uint64_t Derived::*field, const Derived& x, const Derived& y, int k) {
    return Ahead(x.*field, y.*field, k);
  };
  const uint64_t starts = cur.hex & ~((cur.hex << 1) | prevHex);
  // Where the digits and a separator (any of ':', '-', '.': the exact check
  // tells them apart) of a notation fit.
  uint64_t mac = 0;
  // aa:bb:cc:dd:ee:ff and aa-bb-cc-dd-ee-ff
  mac |= starts & cur.pairSep & a(&Derived::pairSep, cur, next, 3) & a(&Derived::pairSep, cur, next, 6) &
         a(&Derived::pairSep, cur, next, 9) & a(&Derived::pairSep, cur, next, 12) & a(&Derived::pair, cur, next, 15) &
         ~a(&Derived::hex, cur, next, 17);
  // aabb.ccdd.eeff and aabb-ccdd-eeff
  mac |= starts & cur.quadSep & a(&Derived::quadSep, cur, next, 5) & a(&Derived::quad, cur, next, 10) &
         ~a(&Derived::hex, cur, next, 14);
  // aabbcc-ddeeff
  mac |= starts & cur.sixSep & a(&Derived::six, cur, next, 7) & ~a(&Derived::hex, cur, next, 13);
  // Six bytes of one or two digits separated by ':', at least one of one
  // digit (all of two are found above): only where a one-digit byte can be
  // within reach (a start in this block reaches at most 17 bytes into the
  // next). Then chains of "group, colon" steps of 2 or 3 bytes ending in a
  // last group, over both blocks; pairs of words shifted by hand, plain
  // shifts being cheaper than double-word ones.
  if ((cur.single | (next.single & 0x3FFFF)) != 0) {
    const Wide2 H{curRaw.hex, nextRaw.hex}, C{curRaw.colon, nextRaw.colon};
    const Wide2 run = H | C;
    const Wide2 g1 = H & (C >> 1), g2 = H & (H >> 1) & (C >> 2);
    Wide2 chain = (H & ~(run >> 1)) | (H & (H >> 1) & ~(run >> 2));  // a last group
    for (int step = 0; step < 5; ++step) chain = (g1 & (chain >> 2)) | (g2 & (chain >> 3));
    mac |= chain.lo & starts & ~((curRaw.colon << 1) | prevColon);
  }
  // Markers: twelve digits (sixteen, the exact check sees) with '.' or '-'
  // one byte before them ("naa.", "eui.") or three ("wwn-0x").
  const uint64_t twelve = cur.quad & a(&Derived::quad, cur, next, 4) & a(&Derived::quad, cur, next, 8);
  const uint64_t marks = curRaw.sep & ~curRaw.colon;
  const uint64_t marked = twelve & ((marks << 1 | prevMarks >> 63) | (marks << 3 | prevMarks >> 61));
  return {mac, cur.trigger, marked};  // the exact check sees the 'e' of "ff:fe"
}
#endif

}  // namespace scan_detail

// Examines candidate starts in text[from, to). Bytes up to text[size) may
// be read, and bytes before `from` are looked at (an IPv6 token found by
// its "ff:fe" must start at or after `from`). Until the stream's end, the
// caller keeps to + kScanLookahead <= size so an identifier starting before
// `to` is whole in the buffer (past text[size) counts as the end of the
// stream). `before` is the byte preceding text[0] (-1 at the start of the
// stream). Calls found(offset, length, const ParsedAddress&) for each
// identifier, in order, and returns where scanning stopped (>= to; past
// `to` when one straddles it).
template <class Found>
size_t ScanAddresses(const char* text, size_t from, size_t to, size_t size, int before, Found&& found) {
  const TextWindow t{text, size, before};
  size_t p = from;
  ParsedAddress id;
  size_t resume = p;  // no identifier starts before this
#if defined(__SSE2__)
  // Whole blocks while the two blocks after are there to look ahead into.
  if (p + 192 <= size && p + 64 <= to) {
    scan_detail::Masks curRaw = scan_detail::Classify64(text + p);
    scan_detail::Masks nextRaw = scan_detail::Classify64(text + p + 64);
    const int prev = t.Before(p);
    uint64_t prevHex = scan_detail::IsHexByte(prev) ? 1 : 0;
    uint64_t prevColon = prev == ':' ? 1 : 0;
    // The '.' and '-' among the three bytes before the block, at the top.
    uint64_t prevMarks = 0;
    for (size_t k = 1; k <= 3 && k <= p + 1; ++k) {
      const int c = k <= p ? static_cast<unsigned char>(text[p - k]) : before;
      if (c == '.' || c == '-') prevMarks |= uint64_t{1} << (64 - k);
    }
    scan_detail::Derived cur = scan_detail::Derive(curRaw, nextRaw, prevHex, prevColon);
    while (p + 192 <= size && p + 64 <= to) {
      const scan_detail::Masks afterRaw = scan_detail::Classify64(text + p + 128);
      const scan_detail::Derived next = scan_detail::Derive(nextRaw, afterRaw, curRaw.hex >> 63, curRaw.colon >> 63);
      const scan_detail::Candidates found64 =
          scan_detail::FindCandidates(cur, next, curRaw, nextRaw, prevHex, prevColon, prevMarks);
      uint64_t candidates = found64.mac | found64.ipv6 | found64.marked;
      while (candidates != 0) {
        const int bit = __builtin_ctzll(candidates);
        candidates &= candidates - 1;
        const size_t at = p + static_cast<size_t>(bit);
        if (at < resume) continue;
        if ((found64.mac >> bit & 1) != 0) {
          if (size_t length = FindGroupsAt(t, at, &id)) {
            found(at, length, id);
            resume = at + length;
            continue;
          }
        }
        if ((found64.marked >> bit & 1) != 0) {
          // The digits of a marked identifier: its marker four or six bytes back.
          for (const size_t back : {size_t{4}, size_t{6}}) {
            const size_t start = at - back;
            if (at < from + back || start < resume) continue;
            if (size_t length = FindMarkedAt(t, start, &id)) {
              found(start, length, id);
              resume = start + length;
              break;
            }
          }
          if (resume > at) continue;
        }
        if ((found64.ipv6 >> bit & 1) != 0) {
          size_t start = 0;
          if (size_t length = FindIpv6Around(t, at, from, &start, &id); length != 0 && start >= resume) {
            found(start, length, id);
            resume = start + length;
          }
        }
      }
      prevHex = curRaw.hex >> 63;
      prevColon = curRaw.colon >> 63;
      prevMarks = curRaw.sep & ~curRaw.colon;
      curRaw = nextRaw;
      nextRaw = afterRaw;
      cur = next;
      p += 64;
    }
    // A marker may end the last block, its digits after it.
    p = p - 6 > resume ? p - 6 : resume;
    // A run of IPv6 groups reaching into what follows starts from its
    // beginning, whose "ff:fe" may lie ahead.
    const size_t floor = resume > from ? resume : from;
    size_t q = p;
    while (q > floor && p - q <= kMaxIpv6HexText && scan_detail::IsRunByte(static_cast<unsigned char>(text[q - 1]))) --q;
    if (q < p && !scan_detail::IsRunByte(t.Before(q))) p = q;
  }
#endif
  if (p < resume) p = resume;
  while (p < to) {
    if (size_t length = FindAt(t, p, &id)) {
      found(p, length, id);
      p += length;
    } else {
      ++p;
    }
  }
  return p;
}

}  // namespace identifier
