// MAC addresses as users type them, and what an address's own bits and the
// well-known address table say about it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace identifier {

// Where a MAC address came from when it was not written as one.
enum class Derivation : uint8_t {
  None,
  Ipv6Eui64,  // the modified EUI-64 interface identifier of an IPv6 address
};

struct ParsedAddress {
  uint64_t value = 0;   // 48 bits; a three-byte input fills the top 24
  bool prefixOnly = false;  // three bytes given: only a 24-bit assignment can match
  Derivation derivedFrom = Derivation::None;
};

// Accepts, in any case, six bytes as aa:bb:cc:dd:ee:ff (one or two digits
// a group: 0:c:29:aa:bb:cc), aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff,
// aabb-ccdd-eeff, aabbcc-ddeeff and aabbccddeeff; three bytes as aa:bb:cc
// (one or two digits a group), aa-bb-cc or aabbcc; and an IPv6 address
// (any form inet_pton takes, optionally with a zone "%eth0" of up to 15
// letters, digits, '_', '-' or '.', and a prefix length "/0".."/128")
// whose interface identifier is a modified EUI-64, giving the MAC address
// inside it. Surrounding blanks are ignored. On failure *error says what
// is wrong.
std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error);

// "ipv6-eui64", or empty for None.
std::string_view DerivationName(Derivation d);

// The IEEE 802c quadrant of a locally administered address (Y and Z bits).
enum class Quadrant { None, Eli, Sai, Aai, Reserved };

struct AddressClass {
  bool group = false;      // I/G bit: multicast (or broadcast)
  bool local = false;      // U/L bit: locally administered
  bool broadcast = false;  // FF:FF:FF:FF:FF:FF
  Quadrant quadrant = Quadrant::None;  // for local addresses only
  const char* note = nullptr;          // meaning from the well-known table, or null
};

AddressClass Classify(const ParsedAddress& address);

// "ELI (extended local identifier)" and so on; empty for None.
std::string_view QuadrantName(Quadrant q);
// The same after "IEEE 802c ", as the note of a local address gives it.
std::string_view QuadrantNote(Quadrant q);

// "AA:BB:CC:DD:EE:FF" (or "AA:BB:CC" for a three-byte input).
std::string FormatMac(const ParsedAddress& address);
// Appends what FormatMac returns.
void AppendMac(std::string* out, const ParsedAddress& address);

}  // namespace identifier
