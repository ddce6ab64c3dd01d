#include "vessarine/identifier/address.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace identifier {

namespace {

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

AddressClass Classify(const ParsedAddress& address) {
  AddressClass c;
  const unsigned first = static_cast<unsigned>(address.value >> 40);
  c.group = (first & 0x01) != 0;
  c.local = (first & 0x02) != 0;
  const bool mac48 = address.kind != IdentifierKind::Eui64;
  c.broadcast = mac48 && !address.prefixOnly && address.value == 0xFFFFFFFFFFFF;
  if (c.local) {
    // IEEE 802c-2017, 8.4.4: Y is bit 2 and Z bit 3 of the first octet.
    const bool y = (first & 0x04) != 0, z = (first & 0x08) != 0;
    c.quadrant = z ? (y ? Quadrant::Sai : Quadrant::Eli) : (y ? Quadrant::Reserved : Quadrant::Aai);
  }
  if (!mac48) return c;
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
