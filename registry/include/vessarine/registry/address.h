// MAC addresses as users type them, and what an address's own bits and the
// well-known address table say about it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace registry {

struct ParsedAddress {
  uint64_t value = 0;   // 48 bits; a three-byte input fills the top 24
  bool prefixOnly = false;  // three bytes given: only a 24-bit assignment can match
};

// Accepts aa:bb:cc:dd:ee:ff, aa-bb-cc-dd-ee-ff, aabb.ccdd.eeff and
// aabbccddeeff in any case, and three bytes as aa:bb:cc, aa-bb-cc or aabbcc;
// surrounding blanks are ignored. On failure *error says what is wrong.
std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error);

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
// Short quadrant label: "ELI", "SAI", "AAI", "reserved".
std::string_view QuadrantLabel(Quadrant q);

// "AA:BB:CC:DD:EE:FF" (or "AA:BB:CC" for a three-byte input).
std::string FormatMac(const ParsedAddress& address);

}  // namespace registry
