// Reading identifiers that carry a registry number: MAC addresses, IPv6
// addresses built on one, 64-bit EUIs and World Wide Names. Everything that
// reads one from text comes here: lookup's inputs (ParseAddress), annotate's
// finder (the exact checks behind its fast scan), the prefixes file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace identifier {

// Where the 48 bits looked up came from when they were not written as a
// MAC address.
enum class Derivation : uint8_t {
  None,
  Ipv6Eui64,  // the modified EUI-64 interface identifier of an IPv6 address
  WwnNaa1,    // a World Wide Name's IEEE address (its last six bytes)
  WwnNaa2,    // the same after the vendor's twelve bits
  WwnNaa5,    // a World Wide Name's OUI, after its first digit
  WwnNaa6,    // the same in a 128-bit name
};

// What was read.
enum class IdentifierKind : uint8_t { Mac, Ipv6, Eui64, Wwn };

struct ParsedAddress {
  // 48 bits looked up and classed: the MAC address, an EUI-64's first six
  // bytes; a three-byte input (or a WWN's OUI) fills the top 24.
  uint64_t value = 0;
  bool prefixOnly = false;  // three bytes given: only a 24-bit assignment can match
  Derivation derivedFrom = Derivation::None;
  IdentifierKind kind = IdentifierKind::Mac;
  uint64_t id = 0;     // the EUI-64, or the WWN's (first) 64 bits
  uint64_t idLow = 0;  // a 128-bit WWN's last 64 bits
};

struct ReadOptions {
  bool wwn = false;  // the 64-bit forms without a marker are World Wide Names
};

// Reads one identifier, in any case, blanks around it ignored:
// - six bytes: aa:bb:cc:dd:ee:ff (one or two digits a group), aa-bb-cc-dd-ee-ff,
//   aabb.ccdd.eeff, aabb-ccdd-eeff, aabb:ccdd:eeff, aabbcc-ddeeff,
//   aabbcc:ddeeff, aabbccddeeff; three: aa:bb:cc (one or two digits a
//   group), aa-bb-cc, aabbcc;
// - an EUI-64: eight two-digit groups with ':' or '-' (never read as IPv6),
//   four four-digit groups with '.', ':' or '-', 6+10 digits with ':' or '-',
//   8+8 with ':', sixteen digits bare, after "0x" or after "eui.";
// - a World Wide Name: "naa." or "wwn-0x" (optionally after
//   /dev/disk/by-id/, with a -partN after) and 16 or 32 digits; with
//   options.wwn, the EUI-64 forms and 32 bare digits too;
// - an IPv6 address (any form inet_pton takes, optionally with a zone "%eth0"
//   of up to 15 letters, digits, '_', '-' or '.', and a prefix length
//   "/0".."/128") whose interface identifier is a modified EUI-64.
// On failure *error (when given) says what is wrong.
std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error, ReadOptions options = {});

// "ipv6-eui64", "wwn-naa5", ...; empty for None.
std::string_view DerivationName(Derivation d);
// "mac", "ipv6", "eui64", "wwn".
std::string_view KindName(IdentifierKind k);

// The identifier in a form ParseAddress reads back to the same: the MAC
// ("AA:BB:CC:DD:EE:FF", "AA:BB:CC"), "fe80::" and the interface identifier
// for an IPv6 address, "AA:BB:CC:DD:EE:FF:00:11" for an EUI-64,
// "naa." and the digits for a WWN.
void AppendCanonical(std::string* out, const ParsedAddress& address);

// Hex digits with ':', '-' or '.' anywhere between them (a prefix as people
// write one): their count, or -1 when a byte is neither, or maxDigits + 1
// as soon as there are more digits than that. *value holds the digits read.
int ReadLooseHex(std::string_view text, int maxDigits, uint64_t* value);

// The finder's exact checks, for the candidates its fast scan picks out.
// `text[0, size)` is what is in memory; `before` the byte preceding
// text[0] (-1 at the start of the stream); past `size` is the stream's end.
struct TextWindow {
  const char* text;
  size_t size;
  int before;
  int At(size_t i) const { return i < size ? static_cast<unsigned char>(text[i]) : -1; }
  int Before(size_t p) const { return p == 0 ? before : static_cast<unsigned char>(text[p - 1]); }
};

// The identifier standing alone at text[p] in the notations free text is
// searched for, MAC forms and eight-group EUI-64s (FindGroupsAt), marked
// EUI-64s and WWNs (FindMarkedAt), IPv6 addresses starting there: its
// length, or 0.
size_t FindGroupsAt(const TextWindow& t, size_t p, ParsedAddress* found);
size_t FindMarkedAt(const TextWindow& t, size_t p, ParsedAddress* found);
size_t FindAt(const TextWindow& t, size_t p, ParsedAddress* found);
// The IPv6 token around the "ff:f" at text[trigger], starting at or after
// `from`: its start and length, or 0.
size_t FindIpv6Around(const TextWindow& t, size_t trigger, size_t from, size_t* start, ParsedAddress* found);

}  // namespace identifier
