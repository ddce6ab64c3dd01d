// IPv6 addresses that carry a MAC address: the pieces both the address
// parser (lookup) and the scanner (annotate) use. Header-only, no
// allocation, any bytes in.
//
// RFC 4291, 2.5.1 and Appendix A: a modified EUI-64 interface identifier
// (the address's last 64 bits) made from a MAC address is the MAC's first
// three bytes, ff:fe, its last three, with the universal/local bit (0x02 of
// the first byte) inverted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace identifier {

// Longest IPv6 address in hexadecimal groups only (eight groups of four).
inline constexpr size_t kMaxIpv6HexText = 39;
// Longest zone ("%eth0") the scanner and the parser take: an interface name
// (Linux allows 15 bytes) or a number.
inline constexpr size_t kMaxIpv6Zone = 15;

namespace ipv6_detail {

inline int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<unsigned char>(c | 0x20);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace ipv6_detail

// Parses text[0, size) as an IPv6 address written in hexadecimal groups
// (RFC 4291, 2.2, forms 1 and 2: at most one "::", groups of one to four
// digits); the dotted IPv4 tail (form 3) is not taken. Fills out[16] and
// returns true when the whole text is such an address.
inline bool ParseIpv6HexGroups(const char* text, size_t size, uint8_t out[16]) {
  uint16_t groups[8] = {};
  int count = 0, gap = -1;  // gap: index of the group "::" stands before
  size_t i = 0;
  if (size >= 2 && text[0] == ':' && text[1] == ':') {
    gap = 0;
    i = 2;
  } else if (size == 0 || text[0] == ':') {
    return false;
  }
  while (i < size) {
    unsigned value = 0;
    size_t digits = 0;
    for (int d; i < size && (d = ipv6_detail::HexValue(static_cast<unsigned char>(text[i]))) >= 0; ++i) {
      if (++digits > 4) return false;
      value = value << 4 | static_cast<unsigned>(d);
    }
    if (digits == 0 || count == 8) return false;
    groups[count++] = static_cast<uint16_t>(value);
    if (i == size) break;
    if (text[i] != ':') return false;
    ++i;
    if (i < size && text[i] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++i;
    } else if (i == size) {
      return false;  // a single trailing colon
    }
  }
  // "::" stands for at least one group of zeros.
  if (gap < 0 ? count != 8 : count > 7) return false;
  uint16_t full[8] = {};
  if (gap < 0) gap = count;
  for (int g = 0; g < gap; ++g) full[g] = groups[g];
  for (int g = gap; g < count; ++g) full[8 - count + g] = groups[g];
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<uint8_t>(full[g] >> 8);
    out[2 * g + 1] = static_cast<uint8_t>(full[g]);
  }
  return true;
}

// The MAC address (48 bits) in the interface identifier of address[16], or
// nothing when that identifier is no modified EUI-64 (its bytes 4 and 5 are
// not ff:fe).
inline std::optional<uint64_t> MacFromInterfaceId(const uint8_t address[16]) {
  const uint8_t* id = address + 8;
  if (id[3] != 0xFF || id[4] != 0xFE) return std::nullopt;
  return static_cast<uint64_t>(id[0] ^ 0x02) << 40 | static_cast<uint64_t>(id[1]) << 32 |
         static_cast<uint64_t>(id[2]) << 24 | static_cast<uint64_t>(id[5]) << 16 |
         static_cast<uint64_t>(id[6]) << 8 | static_cast<uint64_t>(id[7]);
}

// A byte of a zone identifier: a letter, a digit, '_', '-' or '.'.
inline bool IsZoneByte(unsigned char c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == '-' || c == '.';
}

}  // namespace identifier
