// Finds MAC addresses in free text, in any case:
// - aa:bb:cc:dd:ee:ff and 0:c:29:aa:bb:cc (one or two digits a byte),
//   aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff, aabb-ccdd-eeff (Huawei) and
//   aabbcc-ddeeff (HP), where neither the byte before nor the byte after is
//   a hex digit or the address's own separator, so IPv6 addresses, longer
//   colon, dash or dot runs, UUIDs and long hex keys are not taken; an
//   address with a one-digit byte has no letter, digit or '_' right before
//   or after it either;
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
// masks, and the masks' shifts leave only the positions where a whole
// notation fits, and for IPv6 those holding "ff:f", which the "ff:fe" of
// every modified EUI-64 written in groups begins with; each of those few is
// then checked exactly.
// That runs at several bytes per cycle, so annotate's speed is the
// output's, and it needs no library and takes any bytes (NULs, invalid
// UTF-8) as they come.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vessarine/identifier/address.h"
#include "vessarine/identifier/ipv6.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace identifier {

namespace scan_detail {

enum : uint8_t { kHexBit = 1, kWordBit = 2 };

// Per byte: its hex value (or -1) and whether it is a word byte (letter,
// digit, '_').
struct ByteTable {
  signed char hex[256];
  uint8_t cls[256];
  constexpr ByteTable() : hex(), cls() {
    for (int i = 0; i < 256; ++i) hex[i] = -1;
    for (int i = 0; i < 10; ++i) hex['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
      hex['a' + i] = static_cast<signed char>(10 + i);
      hex['A' + i] = static_cast<signed char>(10 + i);
    }
    for (int i = 0; i < 256; ++i) {
      const bool word = (i >= '0' && i <= '9') || (i >= 'a' && i <= 'z') || (i >= 'A' && i <= 'Z') || i == '_';
      cls[i] = static_cast<uint8_t>((hex[i] >= 0 ? kHexBit : 0) | (word ? kWordBit : 0));
    }
  }
};
inline constexpr ByteTable kBytes;

inline int Hex(const char* text, size_t i) { return kBytes.hex[static_cast<unsigned char>(text[i])]; }
inline bool IsHexByte(int c) { return c >= 0 && kBytes.hex[c] >= 0; }
inline bool IsWordByte(int c) { return c >= 0 && (kBytes.cls[c] & kWordBit) != 0; }

// Longest IPv6 token: the groups, '%', the zone, '/', three digits.
inline constexpr size_t kMaxIpv6Token = kMaxIpv6HexText + 1 + kMaxIpv6Zone + 4;

}  // namespace scan_detail

// Longest notation plus the bytes after it that decide whether it stands
// alone (an IPv6 token and two bytes).
inline constexpr size_t kScanLookahead = scan_detail::kMaxIpv6Token + 2;

namespace scan_detail {

// The bytes of text[0, size): -1 past the end (the end of the stream).
struct View {
  const char* text;
  size_t size;
  int before;  // the byte before text[0], -1 for none
  int At(size_t i) const { return i < size ? static_cast<unsigned char>(text[i]) : -1; }
  int Before(size_t p) const { return p == 0 ? before : static_cast<unsigned char>(text[p - 1]); }
  bool HexAt(size_t i) const { return i < size && Hex(text, i) >= 0; }
};

// `groups` groups of exactly `digits` hex digits separated by `sep`, at p.
inline bool FixedGroups(const View& t, size_t p, size_t groups, size_t digits, int sep, uint64_t* value) {
  uint64_t v = 0;
  for (size_t g = 0; g < groups; ++g) {
    const size_t at = p + g * (digits + 1);
    for (size_t k = 0; k < digits; ++k) {
      if (!t.HexAt(at + k)) return false;
      v = v << 4 | static_cast<uint64_t>(Hex(t.text, at + k));
    }
    if (g + 1 < groups && t.At(at + digits) != sep) return false;
  }
  *value = v;
  return true;
}

// Length of the MAC address (any notation but IPv6) starting at text[p],
// or 0.
inline size_t MatchMacAt(const View& t, size_t p, uint64_t* value) {
  const int prev = t.Before(p);
  if (!t.HexAt(p) || IsHexByte(prev)) return 0;
  // The common case first: two digits a byte, ':' or '-' between, the
  // byte after in the buffer.
  if (p + 18 <= t.size) {
    const char* q = t.text + p;
    const char sep = q[2];
    if ((sep == ':' || sep == '-') && prev != static_cast<unsigned char>(sep) && q[5] == sep && q[8] == sep &&
        q[11] == sep && q[14] == sep) {
      uint64_t v = 0;
      int bad = 0;
      for (int g = 0; g < 6; ++g) {
        const int high = Hex(q, 3 * g), low = Hex(q, 3 * g + 1);
        bad |= high | low;  // negative when either is no digit
        v = v << 8 | static_cast<uint64_t>((high << 4 | low) & 0xFF);
      }
      const int after = static_cast<unsigned char>(q[17]);
      if (bad >= 0 && !IsHexByte(after) && after != static_cast<unsigned char>(sep)) {
        *value = v;
        return 17;
      }
    }
  }
  // Six bytes of one or two digits separated by ':'.
  if (prev != ':' && (t.At(p + 1) == ':' || t.At(p + 2) == ':')) {
    size_t q = p;
    uint64_t v = 0;
    bool shortGroup = false;
    for (int g = 0; g < 6; ++g) {
      if (g != 0) {
        if (t.At(q) != ':') return 0;
        ++q;
      }
      if (!t.HexAt(q)) return 0;
      unsigned byte = static_cast<unsigned>(Hex(t.text, q++));
      if (t.HexAt(q)) {
        byte = byte << 4 | static_cast<unsigned>(Hex(t.text, q++));
      } else {
        shortGroup = true;
      }
      v = v << 8 | byte;
    }
    if (t.HexAt(q) || t.At(q) == ':') return 0;
    // With a one-digit group the address also stands apart from words.
    if (shortGroup && (IsWordByte(prev) || IsWordByte(t.At(q)))) return 0;
    *value = v;
    return q - p;
  }
  uint64_t v = 0;
  if (prev != '-') {
    if (t.At(p + 2) == '-') {
      if (FixedGroups(t, p, 6, 2, '-', &v) && !t.HexAt(p + 17) && t.At(p + 17) != '-') return *value = v, 17;
      return 0;
    }
    if (t.At(p + 4) == '-') {
      if (FixedGroups(t, p, 3, 4, '-', &v) && !t.HexAt(p + 14) && t.At(p + 14) != '-') return *value = v, 14;
      return 0;
    }
    if (t.At(p + 6) == '-') {
      if (FixedGroups(t, p, 2, 6, '-', &v) && !t.HexAt(p + 13) && t.At(p + 13) != '-') return *value = v, 13;
      return 0;
    }
  }
  if (prev != '.' && t.At(p + 4) == '.') {
    if (FixedGroups(t, p, 3, 4, '.', &v) && !t.HexAt(p + 14) && t.At(p + 14) != '.') return *value = v, 14;
  }
  return 0;
}

inline bool IsRunByte(int c) { return c == ':' || IsHexByte(c); }

// Length of the IPv6 token starting at text[s], which starts a run of hex
// digits and colons (the byte before is neither), or 0 when it is no
// stand-alone IPv6 address carrying a MAC address.
inline size_t MatchIpv6At(const View& t, size_t s, uint64_t* value) {
  if (IsWordByte(t.Before(s)) || t.Before(s) == '.') return 0;
  size_t e = s;
  while (IsRunByte(t.At(e))) {
    if (++e - s > kMaxIpv6HexText + 1) return 0;
  }
  size_t end = e;  // of the address's groups
  bool colonEnd = false;
  if (end - s >= 2 && t.text[end - 1] == ':' && t.text[end - 2] != ':') {
    --end;  // one ':' after the groups is punctuation
    colonEnd = true;
  }
  if (end - s > kMaxIpv6HexText) return 0;
  uint8_t bytes[16];
  if (!ParseIpv6HexGroups(t.text + s, end - s, bytes)) return 0;
  const auto mac = MacFromInterfaceId(bytes);
  if (!mac) return 0;
  size_t token = end;
  if (colonEnd) {
    if (IsWordByte(t.At(e))) return 0;
  } else {
    if (t.At(token) == '%') {
      // The zone: the run of zone bytes after '%' but for one '.' ending
      // it (a full stop), 1 to 15 bytes.
      size_t z = token + 1;
      for (int c; (c = t.At(z)) >= 0 && IsZoneByte(static_cast<unsigned char>(c));) {
        if (++z - token - 1 > kMaxIpv6Zone + 1) return 0;
      }
      if (z > token + 1 && t.At(z - 1) == '.') --z;
      if (z == token + 1 || z - token - 1 > kMaxIpv6Zone) return 0;
      token = z;
    }
    if (t.At(token) == '/') {
      size_t d = token + 1;
      unsigned bits = 0;
      while (d < t.size && t.text[d] >= '0' && t.text[d] <= '9' && d - token <= 3) {
        bits = bits * 10 + static_cast<unsigned>(t.text[d] - '0');
        ++d;
      }
      if (d == token + 1 || d - token > 4 || bits > 128) return 0;
      if (t.At(d) >= '0' && t.At(d) <= '9') return 0;
      token = d;
    }
    const int after = t.At(token);
    if (IsWordByte(after) || after == ':' || after == '%' || after == '/') return 0;
    if (after == '.') {
      const int next = t.At(token + 1);
      if (IsWordByte(next) && !(next >= '0' && next <= '9')) return 0;
      if (token == end && next >= '0' && next <= '9') {
        // A last group of one to three decimal digits before ".digit" may
        // begin a dotted IPv4 tail.
        size_t g = end;
        while (g > s && t.text[g - 1] != ':') --g;
        bool decimal = end - g <= 3;
        for (size_t i = g; i < end && decimal; ++i) decimal = t.text[i] >= '0' && t.text[i] <= '9';
        if (decimal) return 0;
      }
    }
  }
  *value = *mac;
  return token - s;
}

// The IPv6 token around the "ff:f" at text[trigger], starting at or after
// `from`: its start and length, or 0.
inline size_t MatchIpv6Around(const View& t, size_t trigger, size_t from, size_t* start, uint64_t* value) {
  size_t s = trigger;
  while (s > 0 && IsRunByte(static_cast<unsigned char>(t.text[s - 1]))) {
    if (trigger - --s > kMaxIpv6HexText) return 0;
  }
  if (s == 0 && IsRunByte(t.before)) return 0;  // began before this buffer: seen already
  if (s < from) return 0;
  *start = s;
  return MatchIpv6At(t, s, value);
}

// The address starting at text[p], of any notation; its length or 0.
inline size_t MatchAt(const View& t, size_t p, uint64_t* value, Derivation* derived) {
  *derived = Derivation::None;
  if (size_t length = MatchMacAt(t, p, value)) return length;
  if (IsRunByte(t.At(p)) && !IsRunByte(t.Before(p))) {
    if (size_t length = MatchIpv6At(t, p, value)) {
      *derived = Derivation::Ipv6Eui64;
      return length;
    }
  }
  return 0;
}

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
  uint64_t mac;   // starts where a MAC notation's digits and separators fit
  uint64_t ipv6;  // "ff:f" in any case
};

// Positions in this 64-byte block (`cur` and `next` its and the following
// block's derived masks, `curRaw` and `nextRaw` their masks; prevHex and
// prevColon tell of the byte before the block).
[[gnu::always_inline]] inline Candidates FindCandidates(const Derived& cur, const Derived& next, const Masks& curRaw, const Masks& nextRaw,
                                 uint64_t prevHex, uint64_t prevColon) {
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
  return {mac, cur.trigger};  // the exact check sees the 'e' of "ff:fe"
}
#endif

}  // namespace scan_detail

// Examines candidate starts in text[from, to). Bytes up to text[size) may
// be read, and bytes before `from` are looked at (an IPv6 token found by
// its "ff:fe" must start at or after `from`). Until the stream's end, the
// caller keeps to + kScanLookahead <= size so an address starting before
// `to` is whole in the buffer (past text[size) counts as the end of the
// stream). `before` is the byte preceding text[0] (-1 at the start of the
// stream). Calls found(offset, length, value, derivation) for each address,
// in order, and returns where scanning stopped (>= to; past `to` when an
// address straddles it).
template <class Found>
size_t ScanAddresses(const char* text, size_t from, size_t to, size_t size, int before, Found&& found) {
  const scan_detail::View t{text, size, before};
  size_t p = from;
  uint64_t value = 0;
  Derivation derived = Derivation::None;
  size_t resume = p;  // no address starts before this
#if defined(__SSE2__)
  // Whole blocks while the two blocks after are there to look ahead into.
  if (p + 192 <= size && p + 64 <= to) {
    scan_detail::Masks curRaw = scan_detail::Classify64(text + p);
    scan_detail::Masks nextRaw = scan_detail::Classify64(text + p + 64);
    const int prev = t.Before(p);
    uint64_t prevHex = scan_detail::IsHexByte(prev) ? 1 : 0;
    uint64_t prevColon = prev == ':' ? 1 : 0;
    scan_detail::Derived cur = scan_detail::Derive(curRaw, nextRaw, prevHex, prevColon);
    while (p + 192 <= size && p + 64 <= to) {
      const scan_detail::Masks afterRaw = scan_detail::Classify64(text + p + 128);
      const scan_detail::Derived next = scan_detail::Derive(nextRaw, afterRaw, curRaw.hex >> 63, curRaw.colon >> 63);
      const scan_detail::Candidates found64 =
          scan_detail::FindCandidates(cur, next, curRaw, nextRaw, prevHex, prevColon);
      uint64_t candidates = found64.mac | found64.ipv6;
      while (candidates != 0) {
        const int bit = __builtin_ctzll(candidates);
        candidates &= candidates - 1;
        const size_t at = p + static_cast<size_t>(bit);
        if (at < resume) continue;
        if ((found64.mac >> bit & 1) != 0) {
          if (size_t length = scan_detail::MatchMacAt(t, at, &value)) {
            found(at, length, value, Derivation::None);
            resume = at + length;
            continue;
          }
        }
        if ((found64.ipv6 >> bit & 1) != 0) {
          size_t start = 0;
          if (size_t length = scan_detail::MatchIpv6Around(t, at, from, &start, &value); length != 0 && start >= resume) {
            found(start, length, value, Derivation::Ipv6Eui64);
            resume = start + length;
          }
        }
      }
      prevHex = curRaw.hex >> 63;
      prevColon = curRaw.colon >> 63;
      curRaw = nextRaw;
      nextRaw = afterRaw;
      cur = next;
      p += 64;
    }
    p = p > resume ? p : resume;
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
    if (size_t length = scan_detail::MatchAt(t, p, &value, &derived)) {
      found(p, length, value, derived);
      p += length;
    } else {
      ++p;
    }
  }
  return p;
}

}  // namespace identifier
