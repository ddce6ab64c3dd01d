#include "vessarine/identifier/address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "vessarine/listing/registries.h"
#include "vessarine/identifier/ipv6.h"
#include "vessarine/identifier/scanner.h"

namespace identifier {

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
  *value = 0;
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

// `groups` bytes of one or two hex digits each, separated by ':' (macOS's
// arp writes 0:c:29:3a:5b:7c).
bool ReadColonBytes(std::string_view text, size_t groups, uint64_t* value) {
  if (text.size() < 2 * groups - 1 || text.size() > 3 * groups - 1) return false;
  *value = 0;
  size_t pos = 0;
  for (size_t g = 0; g < groups; ++g) {
    if (g != 0) {
      if (pos == text.size() || text[pos] != ':') return false;
      ++pos;
    }
    size_t digits = 0;
    unsigned byte = 0;
    for (int d; pos < text.size() && digits < 3 && (d = HexDigitValue(text[pos])) >= 0; ++pos, ++digits)
      byte = byte << 4 | static_cast<unsigned>(d);
    if (digits == 0 || digits > 2) return false;
    *value = *value << 8 | byte;
  }
  return pos == text.size();
}

constexpr std::string_view kNotMacLead = "not a MAC address";
constexpr std::string_view kNotMac =
    "not a MAC address; expected six bytes such as 00:0c:29:aa:bb:cc, 0:c:29:aa:bb:cc, "
    "00-0c-29-aa-bb-cc, 000c.29aa.bbcc, 000c-29aa-bbcc, 000c29-aabbcc or 000c29aabbcc, three bytes "
    "such as 00:0c:29, or an IPv6 address whose interface identifier holds one, such as "
    "fe80::20c:29ff:feaa:bbcc";

// An IPv6 address, with an optional zone and prefix length; nothing (and
// *error) when the text is no such address or holds no MAC address. Text
// that does not look like an IPv6 address leaves *error empty.
std::optional<uint64_t> ParseIpv6(std::string_view text, std::string* error) {
  const bool looksIpv6 = text.find("::") != std::string_view::npos ||
                         text.find_first_of("%/") != std::string_view::npos ||
                         std::count(text.begin(), text.end(), ':') >= 7;
  if (!looksIpv6 || text.find(':') == std::string_view::npos) return std::nullopt;
  std::string_view address = text;
  if (size_t slash = address.find('/'); slash != std::string_view::npos) {
    const std::string_view length = address.substr(slash + 1);
    unsigned bits = 0;
    bool ok = !length.empty() && length.size() <= 3;
    for (char c : length) {
      ok = ok && c >= '0' && c <= '9';
      bits = bits * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || bits > 128) {
      *error = "not an IPv6 address: the prefix length after '/' must be a number from 0 to 128";
      return std::nullopt;
    }
    address = address.substr(0, slash);
  }
  if (size_t percent = address.find('%'); percent != std::string_view::npos) {
    const std::string_view zone = address.substr(percent + 1);
    bool ok = !zone.empty() && zone.size() <= kMaxIpv6Zone;
    for (char c : zone) ok = ok && IsZoneByte(static_cast<unsigned char>(c));
    if (!ok) {
      *error = "not an IPv6 address: the zone after '%' must be 1 to 15 letters, digits, '_', '-' or '.'";
      return std::nullopt;
    }
    address = address.substr(0, percent);
  }
  char buffer[INET6_ADDRSTRLEN];
  uint8_t bytes[16];
  // inet_pton reads up to a NUL: one inside the text must not end it early.
  if (address.size() >= sizeof buffer || address.find('\0') != std::string_view::npos) {
    *error = "not a MAC address nor an IPv6 address" + std::string(kNotMac.substr(kNotMacLead.size()));
    return std::nullopt;
  }
  address.copy(buffer, address.size());
  buffer[address.size()] = '\0';
  if (::inet_pton(AF_INET6, buffer, bytes) != 1) {
    *error = "not a MAC address nor an IPv6 address" + std::string(kNotMac.substr(kNotMacLead.size()));
    return std::nullopt;
  }
  if (auto mac = MacFromInterfaceId(bytes)) return mac;
  *error =
      "not a MAC address: an IPv6 address whose interface identifier holds no MAC address (it is no "
      "modified EUI-64: its last 64 bits do not have ff:fe in the middle)";
  return std::nullopt;
}

// Well-known addresses and ranges; inclusive bounds over the 48-bit value.
// The first row that holds an address gives its note, so a row comes
// before any wider one around it.
struct WellKnown {
  uint64_t low, high;
  const char* meaning;
};

constexpr WellKnown kWellKnown[] = {
    // IEEE Std 802.1Q-2018, Tables 8-1 to 8-3: reserved group addresses
    // that bridges do not forward.
    {0x0180C2000000, 0x0180C2000000, "IEEE 802.1Q bridge group address (Spanning Tree)"},
    {0x0180C2000001, 0x0180C2000001, "IEEE 802.3 MAC control (PAUSE frames)"},
    {0x0180C2000002, 0x0180C2000002, "IEEE 802.3 slow protocols (LACP, OAM)"},
    {0x0180C2000003, 0x0180C2000003, "IEEE 802.1X port access entity (EAPOL)"},
    {0x0180C2000008, 0x0180C2000008, "IEEE 802.1Q provider bridge group address (S-VLAN Spanning Tree)"},
    {0x0180C200000D, 0x0180C200000D, "IEEE 802.1Q provider bridge MVRP address"},
    {0x0180C200000E, 0x0180C200000E, "IEEE 802.1AB LLDP / IEEE 1588 peer delay (nearest bridge)"},
    {0x0180C2000004, 0x0180C200000F, "IEEE 802.1Q reserved group address"},
    // IEEE Std 802.1Q-2018, 10.12 (MRP application addresses) and IEEE
    // 802.1ag (CFM) group addresses.
    {0x0180C2000020, 0x0180C200002F, "IEEE 802.1Q MRP application address (MMRP, MVRP)"},
    {0x0180C2000030, 0x0180C200003F, "IEEE 802.1ag connectivity fault management"},
    // RFC 7042, 2.1.2: documentation values under the IANA OUI.
    {0x01005E901000, 0x01005E9010FF, "documentation address (RFC 7042)"},
    {0x00005E005300, 0x00005E0053FF, "documentation address (RFC 7042)"},
    // RFC 1112, 6.4 (and RFC 7042, 2.1.1): IPv4 multicast maps into
    // 01-00-5E-00-00-00..7F-FF-FF.
    {0x01005E000000, 0x01005E7FFFFF, "IPv4 multicast"},
    // RFC 7042, 2.1.1 (RFC 5332): MPLS multicast, 01-00-5E-80-00-00..8F-FF-FF.
    {0x01005E800000, 0x01005E8FFFFF, "MPLS multicast"},
    // RFC 2464, 7: IPv6 multicast maps into 33-33-xx-xx-xx-xx.
    {0x333300000000, 0x3333FFFFFFFF, "IPv6 multicast"},
    // RFC 5798, 7.3 (and RFC 7042, 2.1.1): VRRP virtual router addresses,
    // 00-00-5E-00-01-{VRID} for IPv4 and 00-00-5E-00-02-{VRID} for IPv6.
    // OpenBSD's carp(4) (also FreeBSD's) takes the IPv4 block for CARP,
    // with the virtual host ID as the last byte.
    {0x00005E000100, 0x00005E0001FF, "VRRP virtual router (IPv4) or CARP virtual host"},
    {0x00005E000200, 0x00005E0002FF, "VRRP virtual router (IPv6)"},
    // IEEE Std 1588-2008, Annex F: PTP over Ethernet.
    {0x011B19000000, 0x011B19000000, "IEEE 1588 Precision Time Protocol"},
    // Cisco's published protocol addresses (CDP, VTP, DTP, UDLD, PVST+).
    {0x01000CCCCCCC, 0x01000CCCCCCC, "Cisco CDP, VTP, DTP, UDLD"},
    {0x01000CCCCCCD, 0x01000CCCCCCD, "Cisco shared spanning tree (PVST+)"},
    // Cisco, "Understanding and Configuring the Cisco UplinkFast Feature":
    // after a switchover the switch sends a dummy frame to 01-00-0C-CD-CD-CD
    // from each address it has learnt, so upstream switches relearn them.
    {0x01000CCDCDCD, 0x01000CCDCDCD, "Cisco UplinkFast station-learning frame"},
    // RFC 2281 (Cisco HSRP; CISCO-HSRP-MIB cHsrpGrpVirtualMacAddr):
    // 00-00-0C-07-AC-{group}.
    {0x00000C07AC00, 0x00000C07ACFF, "Cisco HSRP virtual router (version 1)"},
    // Cisco IOS First Hop Redundancy Protocols Configuration Guide, HSRP
    // version 2: 0000.0C9F.F000-0000.0C9F.FFFF (the last 12 bits are the
    // group); HSRP for IPv6: 0005.73A0.0000-0005.73A0.0FFF.
    {0x00000C9FF000, 0x00000C9FFFFF, "Cisco HSRP virtual router (version 2)"},
    {0x000573A00000, 0x000573A00FFF, "Cisco HSRP virtual router (IPv6)"},
    // The same guide, GLBP: virtual MAC addresses 0007.b400.xxyy, xx the
    // group, yy the forwarder.
    {0x0007B4000000, 0x0007B400FFFF, "Cisco GLBP virtual forwarder"},
    // Microsoft, Network Load Balancing Technical Overview (distribution of
    // cluster traffic): 02-BF-w-x-y-z in unicast mode, 03-BF-w-x-y-z in
    // multicast mode, w.x.y.z being the cluster's primary IPv4 address.
    {0x02BF00000000, 0x02BFFFFFFFFF, "Microsoft NLB cluster address (unicast mode)"},
    {0x03BF00000000, 0x03BFFFFFFFFF, "Microsoft NLB cluster address (multicast mode)"},
    // Virtual machines' and containers' network interfaces.
    // QEMU's default NIC address is 52:54:00:12:34:56, and libvirt and
    // virt-install (virtinst/devices/interface.py) generate theirs in
    // 52:54:00.
    {0x525400000000, 0x525400FFFFFF, "QEMU/KVM virtual NIC"},
    // Docker (moby libnetwork, GenerateMACFromIP): 02:42 followed by the
    // container's IPv4 address.
    {0x024200000000, 0x0242FFFFFFFF, "Docker container interface"},
    // VirtualBox: guest NICs get generated addresses under 08:00:27 (IEEE
    // MA-L 08-00-27); the host side of a host-only network (vboxnetN)
    // shows 0a:00:27:00:00:0N.
    {0x080027000000, 0x080027FFFFFF, "VirtualBox virtual NIC"},
    {0x0A0027000000, 0x0A0027FFFFFF, "VirtualBox host-only network adapter (host side)"},
    // xl-network-configuration(5), "mac": xl generates addresses in Xen's
    // OUI 00:16:3e.
    {0x00163E000000, 0x00163EFFFFFF, "Xen virtual NIC"},
    // Microsoft KB 2804678: Hyper-V's dynamic addresses are 00-15-5D, two
    // bytes of the host's IPv4 address, and one counted from 00 to FF.
    {0x00155D000000, 0x00155DFFFFFF, "Hyper-V virtual NIC"},
    // vSphere Networking, "MAC address assignment from vCenter Server":
    // static addresses 00:50:56:00:00:00-00:50:56:3F:FF:FF, generated by
    // vCenter 00:50:56:80:00:00-00:50:56:BF:FF:FF, the rest of 00:50:56
    // reserved for hosts' physical and VMkernel adapters; ESXi and
    // Workstation generate 00:0C:29 addresses from the machine's UUID.
    {0x005056000000, 0x0050563FFFFF, "VMware virtual NIC (static address)"},
    {0x005056800000, 0x005056BFFFFF, "VMware virtual NIC (generated by vCenter)"},
    {0x005056000000, 0x005056FFFFFF, "VMware virtual NIC or VMkernel adapter"},
    {0x000C29000000, 0x000C29FFFFFF, "VMware virtual NIC (generated by ESXi/Workstation)"},
    // IEEE MA-L 00-05-69 and 00-1C-14, VMware, Inc.'s other blocks for
    // virtual machines.
    {0x000569000000, 0x000569FFFFFF, "VMware virtual NIC"},
    {0x001C14000000, 0x001C14FFFFFF, "VMware virtual NIC"},
    // IEEE MA-L 00-1C-42, Parallels, Inc.: Parallels Desktop's virtual NICs.
    {0x001C42000000, 0x001C42FFFFFF, "Parallels virtual NIC"},
    // IEEE Std 802-2014, 8.2: all ones is the broadcast address.
    {0xFFFFFFFFFFFF, 0xFFFFFFFFFFFF, "broadcast"},
    // An all-zero address is never assigned to an interface.
    {0x000000000000, 0x000000000000, "null address (unset)"},
};

// The table as disjoint ranges in ascending order, each with the note of
// the first row holding it (null where none does): one binary search per
// address instead of a pass over every row.
class WellKnownIndex {
 public:
  WellKnownIndex() {
    padded_.fill(~uint64_t{0});
    // Every range's ends cut the line into pieces of equal notes.
    std::vector<uint64_t> cuts{0};
    for (const WellKnown& w : kWellKnown) {
      cuts.push_back(w.low);
      if (w.high != kLast) cuts.push_back(w.high + 1);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (uint64_t start : cuts) {
      const char* note = nullptr;
      for (const WellKnown& w : kWellKnown) {
        if (w.low <= start && start <= w.high) {
          note = w.meaning;
          break;
        }
      }
      if (starts_.empty() || notes_.back() != note) {
        starts_.push_back(start);
        notes_.push_back(note);
      }
    }
    if (starts_.size() > padded_.size()) std::abort();  // the table outgrew the index
    for (const WellKnown& w : kWellKnown) {
      for (uint64_t b = w.low >> 32; b <= w.high >> 32; ++b) blocks_[b >> 6] |= uint64_t{1} << (b & 63);
    }
    std::copy(starts_.begin(), starts_.end(), padded_.begin());
  }

  const char* Note(uint64_t value) const {
    const uint64_t block = value >> 32;
    if ((blocks_[block >> 6] >> (block & 63) & 1) == 0) return nullptr;
    // Branch-free: the last start at or below the value (starts_[0] is 0;
    // the padding after the real starts is above every address).
    const uint64_t* base = padded_.data();
    size_t n = padded_.size();
    while (n > 1) {
      const size_t half = n / 2;
      base = base[half] <= value ? base + half : base;
      n -= half;
    }
    return notes_[static_cast<size_t>(base - padded_.data())];
  }

 private:
  static constexpr uint64_t kLast = 0xFFFFFFFFFFFF;
  std::vector<uint64_t> starts_;
  std::vector<const char*> notes_;
  std::array<uint64_t, 256> padded_;
  // Bit b set when a row holds an address whose first 16 bits are b: most
  // addresses need no search (8 KiB).
  std::array<uint64_t, 1024> blocks_{};
};

const char* WellKnownNote(uint64_t value) {
  static const WellKnownIndex index;
  return index.Note(value);
}

}  // namespace

std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  uint64_t v = 0;
  auto six = [&] { return ParsedAddress{v, false, Derivation::None}; };
  auto three = [&] { return ParsedAddress{v << 24, true, Derivation::None}; };
  // The six-byte notations with separators are the scanner's, which must
  // take its finds back: a text that is one address and nothing else.
  if (text.size() >= 11 && text.size() <= 17) {
    const scan_detail::View view{text.data(), text.size(), -1};
    if (scan_detail::MatchMacAt(view, 0, &v) == text.size()) return six();
  }
  switch (text.size()) {
    case 12:
      if (ReadGroups(text, 1, 12, 0, &v)) return six();
      break;
    case 6:
      if (ReadGroups(text, 1, 6, 0, &v)) return three();
      break;
    case 8:
      if (ReadGroups(text, 3, 2, '-', &v)) return three();
      break;
    default: break;
  }
  if (ReadColonBytes(text, 3, &v)) return three();
  std::string problem;
  if (auto mac = ParseIpv6(text, &problem)) return ParsedAddress{*mac, false, Derivation::Ipv6Eui64};
  if (error != nullptr) {
    if (!problem.empty()) {
      *error = std::move(problem);
    } else {
      *error = text.empty() ? "empty input; expected a MAC address such as 00:0c:29:aa:bb:cc" : std::string(kNotMac);
    }
  }
  return std::nullopt;
}

std::string_view DerivationName(Derivation d) {
  switch (d) {
    case Derivation::Ipv6Eui64: return "ipv6-eui64";
    case Derivation::None: break;
  }
  return {};
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
  if (address.prefixOnly) {
    // A three-byte input stands for its whole block: only an entry covering
    // all of it applies.
    const uint64_t low = address.value, high = address.value | 0xFFFFFF;
    for (const WellKnown& w : kWellKnown) {
      if (w.low <= low && high <= w.high) {
        c.note = w.meaning;
        break;
      }
    }
  } else {
    c.note = WellKnownNote(address.value);
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

std::string_view QuadrantNote(Quadrant q) {
  switch (q) {
    case Quadrant::Eli: return "IEEE 802c ELI (extended local identifier, under a company ID)";
    case Quadrant::Sai: return "IEEE 802c SAI (standard assigned identifier)";
    case Quadrant::Aai: return "IEEE 802c AAI (administratively assigned, e.g. random)";
    case Quadrant::Reserved: return "IEEE 802c reserved quadrant";
    case Quadrant::None: break;
  }
  return {};
}

void AppendMac(std::string* out, const ParsedAddress& address) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const int bytes = address.prefixOnly ? 3 : 6;
  char text[17];
  char* p = text;
  for (int i = 0; i < bytes; ++i) {
    unsigned b = static_cast<unsigned>(address.value >> (40 - 8 * i)) & 0xFF;
    if (i != 0) *p++ = ':';
    *p++ = kDigits[b >> 4];
    *p++ = kDigits[b & 15];
  }
  out->append(text, static_cast<size_t>(p - text));
}

std::string FormatMac(const ParsedAddress& address) {
  std::string out;
  AppendMac(&out, address);
  return out;
}

}  // namespace identifier
