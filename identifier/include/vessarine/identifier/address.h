// What an address's own bits and the well-known address table say about
// it, and its usual text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vessarine/identifier/identifier.h"

namespace identifier {

// The IEEE 802c quadrant of a locally administered address (Y and Z bits).
enum class Quadrant { None, Eli, Sai, Aai, Reserved };

struct AddressClass {
  bool group = false;      // I/G bit: multicast (or broadcast)
  bool local = false;      // U/L bit: locally administered
  bool broadcast = false;  // FF:FF:FF:FF:FF:FF
  Quadrant quadrant = Quadrant::None;  // for local addresses only
  const char* note = nullptr;          // meaning from the well-known table, or null
};

// An EUI-64 is classed by its first byte as a MAC address is; the
// well-known table, of 48-bit addresses, does not apply to it.
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
