// IPv6 addresses that carry a MAC address: the pieces both the address
// parser (lookup) and the scanner (annotate) use; any bytes in.
//
// RFC 4291, 2.5.1 and Appendix A: a modified EUI-64 interface identifier
// (the address's last 64 bits) made from a MAC address is the MAC's first
// three bytes, ff:fe, its last three, with the universal/local bit (0x02 of
// the first byte) inverted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "vessarine/store/bytes.h"

namespace identifier {

// Longest IPv6 address in hexadecimal groups only (eight groups of four).
inline constexpr size_t kMaxIpv6HexText = 39;
// Longest zone ("%eth0") the scanner and the parser take: an interface name
// (Linux allows 15 bytes) or a number.
inline constexpr size_t kMaxIpv6Zone = 15;

// Reads text (hexadecimal groups, "::", a dotted IPv4 tail: what
// inet_pton takes) as an IPv6 address into out[16]; false when it is none.
bool ReadIpv6Bytes(std::string_view text, uint8_t out[16]);

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
  const char lower = AsciiLower(static_cast<char>(c));
  return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z') || c == '_' || c == '-' || c == '.';
}

}  // namespace identifier
