#include "vessarine/registry/address.h"

#include "vessarine/listing/registry.h"

namespace registry {

namespace {

// Reads `count` hex digits at text[pos]; false when any is not one.
bool ReadHex(std::string_view text, size_t pos, size_t count, uint64_t* value) {
  if (pos + count > text.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    int d = HexDigitValue(text[pos + i]);
    if (d < 0) return false;
    *value = (*value << 4) | static_cast<uint64_t>(d);
  }
  return true;
}

// Groups of `digits` hex digits separated by `sep` (0: none), `groups` of them.
bool ReadGroups(std::string_view text, size_t groups, size_t digits, char sep, uint64_t* value) {
  size_t expected = groups * digits + (sep != 0 ? groups - 1 : 0);
  if (text.size() != expected) return false;
  size_t pos = 0;
  for (size_t g = 0; g < groups; ++g) {
    if (g != 0 && sep != 0) {
      if (text[pos] != sep) return false;
      ++pos;
    }
    if (!ReadHex(text, pos, digits, value)) return false;
    pos += digits;
  }
  return true;
}

// Well-known addresses and ranges; inclusive bounds over the 48-bit value.
struct WellKnown {
  uint64_t low, high;
  const char* meaning;
};

constexpr WellKnown kWellKnown[] = {
    // IEEE Std 802.1Q-2018, Table 8-1..8-3: reserved group addresses that
    // bridges do not forward.
    {0x0180C2000000, 0x0180C2000000, "IEEE 802.1Q bridge group address (Spanning Tree)"},
    {0x0180C2000001, 0x0180C2000001, "IEEE 802.3 MAC control (PAUSE frames)"},
    {0x0180C2000002, 0x0180C2000002, "IEEE 802.3 slow protocols (LACP, OAM)"},
    {0x0180C2000003, 0x0180C2000003, "IEEE 802.1X port access entity (EAPOL)"},
    {0x0180C200000E, 0x0180C200000E, "IEEE 802.1AB LLDP / IEEE 1588 peer delay (nearest bridge)"},
    {0x0180C2000004, 0x0180C200000F, "IEEE 802.1Q reserved group address"},
    // IEEE Std 802.1Q-2018, 10.12 (MRP application addresses) and IEEE
    // 802.1ag (CFM) group addresses.
    {0x0180C2000020, 0x0180C200002F, "IEEE 802.1Q MRP application address (MMRP, MVRP)"},
    {0x0180C2000030, 0x0180C200003F, "IEEE 802.1ag connectivity fault management"},
    // RFC 1112, 6.4: IPv4 multicast maps into 01-00-5E-00-00-00..7F-FF-FF.
    {0x01005E000000, 0x01005E7FFFFF, "IPv4 multicast"},
    // RFC 7042, 2.1.1: MPLS multicast, 01-00-5E-80-00-00..8F-FF-FF.
    {0x01005E800000, 0x01005E8FFFFF, "MPLS multicast"},
    // RFC 2464, 7: IPv6 multicast maps into 33-33-xx-xx-xx-xx.
    {0x333300000000, 0x3333FFFFFFFF, "IPv6 multicast"},
    // RFC 5798, 7.3: VRRP virtual router addresses for IPv4 and IPv6.
    {0x00005E000100, 0x00005E0001FF, "VRRP virtual router (IPv4)"},
    {0x00005E000200, 0x00005E0002FF, "VRRP virtual router (IPv6)"},
    // IEEE Std 1588-2008, Annex F: PTP over Ethernet.
    {0x011B19000000, 0x011B19000000, "IEEE 1588 Precision Time Protocol"},
    // Cisco's published protocol addresses (CDP, VTP, DTP, UDLD, PVST+).
    {0x01000CCCCCCC, 0x01000CCCCCCC, "Cisco CDP, VTP, DTP, UDLD"},
    {0x01000CCCCCCD, 0x01000CCCCCCD, "Cisco shared spanning tree (PVST+)"},
    // IEEE Std 802-2014, 8.2: all ones is the broadcast address.
    {0xFFFFFFFFFFFF, 0xFFFFFFFFFFFF, "broadcast"},
    // An all-zero address is never assigned to an interface.
    {0x000000000000, 0x000000000000, "null address (unset)"},
};

}  // namespace

std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  ParsedAddress a;
  uint64_t v = 0;
  if (ReadGroups(text, 6, 2, ':', &v) || ReadGroups(text, 6, 2, '-', &(v = 0)) ||
      ReadGroups(text, 3, 4, '.', &(v = 0)) || ReadGroups(text, 1, 12, 0, &(v = 0))) {
    a.value = v;
    return a;
  }
  v = 0;
  if (ReadGroups(text, 3, 2, ':', &v) || ReadGroups(text, 3, 2, '-', &(v = 0)) ||
      ReadGroups(text, 1, 6, 0, &(v = 0))) {
    a.value = v << 24;
    a.prefixOnly = true;
    return a;
  }
  if (error != nullptr) {
    *error = text.empty() ? "empty input; expected a MAC address such as 00:0c:29:aa:bb:cc"
                          : "not a MAC address; expected six bytes such as 00:0c:29:aa:bb:cc, "
                            "00-0c-29-aa-bb-cc, 000c.29aa.bbcc or 000c29aabbcc, or three bytes "
                            "such as 00:0c:29";
  }
  return std::nullopt;
}

AddressClass Classify(const ParsedAddress& address) {
  AddressClass c;
  const unsigned first = static_cast<unsigned>(address.value >> 40);
  c.group = (first & 0x01) != 0;
  c.local = (first & 0x02) != 0;
  c.broadcast = !address.prefixOnly && address.value == 0xFFFFFFFFFFFF;
  if (c.local) {
    // IEEE 802c-2017, 8.4.4: Y is bit 2 and Z bit 3 of the first octet.
    const bool y = (first & 0x04) != 0, z = (first & 0x08) != 0;
    c.quadrant = z ? (y ? Quadrant::Sai : Quadrant::Eli) : (y ? Quadrant::Reserved : Quadrant::Aai);
  }
  // A three-byte input stands for its whole block: only an entry covering
  // all of it applies.
  const uint64_t low = address.value, high = address.prefixOnly ? address.value | 0xFFFFFF : address.value;
  for (const WellKnown& w : kWellKnown) {
    if (w.low <= low && high <= w.high) {
      c.note = w.meaning;
      break;
    }
  }
  return c;
}

std::string_view QuadrantName(Quadrant q) {
  switch (q) {
    case Quadrant::Eli: return "ELI (extended local identifier, under a company ID)";
    case Quadrant::Sai: return "SAI (standard assigned identifier)";
    case Quadrant::Aai: return "AAI (administratively assigned, e.g. random)";
    case Quadrant::Reserved: return "reserved quadrant";
    case Quadrant::None: break;
  }
  return {};
}

std::string_view QuadrantLabel(Quadrant q) {
  switch (q) {
    case Quadrant::Eli: return "ELI";
    case Quadrant::Sai: return "SAI";
    case Quadrant::Aai: return "AAI";
    case Quadrant::Reserved: return "reserved";
    case Quadrant::None: break;
  }
  return {};
}

std::string FormatMac(const ParsedAddress& address) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int bytes = address.prefixOnly ? 3 : 6;
  std::string out;
  for (int i = 0; i < bytes; ++i) {
    unsigned b = static_cast<unsigned>(address.value >> (40 - 8 * i)) & 0xFF;
    if (i != 0) out.push_back(':');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace registry
