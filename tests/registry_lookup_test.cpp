// Addresses as users write them, their classes, and the longest-prefix
// answer across every registry.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "vessarine/identifier/address.h"
#include "vessarine/answer/describe.h"
#include "vessarine/text/escape.h"
#include "vessarine/identifier/ipv6.h"
#include "vessarine/update/table_refresh.h"
#include "vessarine/registry/tables.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using identifier::ParseAddress;
using listing::Registry;

namespace {

// Tables from the fixtures of every registry, made once.
class RegistryLookup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/vessarine-lookup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("XDG_CACHE_HOME", dir_.c_str(), 1);
    for (const auto& r : RefreshFolder(kFixtures, true)) {
      ASSERT_EQ(r.status, update::RefreshResult::Status::Updated) << update::Summary(r);
    }
    tables_ = new registry::RegistryTables;
    tables_->Load(stderr);
  }
  static void TearDownTestSuite() {
    delete tables_;
    std::filesystem::remove_all(dir_);
    unsetenv("XDG_CACHE_HOME");
  }

  static answer::Description Look(const char* text) {
    std::string error;
    auto a = ParseAddress(text, &error);
    EXPECT_TRUE(a) << text << ": " << error;
    return answer::Describe(*tables_, a.value_or(identifier::ParsedAddress{}));
  }
  // "MA-S 70B3D5F2F TELEPLATFORMS", or "none".
  static std::string Answer(const char* text) {
    auto d = Look(text);
    if (!d.match) return "none";
    return std::string(listing::Info(d.match->registry).name) + " " + registry::AssignmentDigits(*d.match) + " " +
           std::string(d.match->organization);
  }

  static std::string dir_;
  static registry::RegistryTables* tables_;
};

class RegistryDebian : public CacheHomeTest {};

std::string RegistryLookup::dir_;
registry::RegistryTables* RegistryLookup::tables_ = nullptr;

}  // namespace

TEST(RegistryAddress, EveryNotationAndTheTraps) {
  for (const char* text : {"00:0c:29:aa:bb:cc", "00-0C-29-AA-BB-CC", "000c.29aa.bbcc", "000C29aabbcc", " 00:0c:29:aa:bb:cc\r",
                           "0:c:29:aa:bb:cc", "0:C:29:AA:BB:CC", "000c-29aa-bbcc", "000C29-AABBCC", "000c:29aa:bbcc", "000c29:AABBCC"}) {
    auto a = ParseAddress(text, nullptr);
    ASSERT_TRUE(a) << text;
    EXPECT_EQ(a->value, 0x000C29AABBCCu) << text;
    EXPECT_FALSE(a->prefixOnly);
  }
  for (const char* text : {"00:0c:29", "00-0c-29", "000c29", "0:c:29"}) {
    auto a = ParseAddress(text, nullptr);
    ASSERT_TRUE(a) << text;
    EXPECT_EQ(a->value, 0x000C29000000u);
    EXPECT_TRUE(a->prefixOnly);
  }
  std::string error;
  for (const char* text : {"", "00:0c:29:aa:bb", "00:0c-29:aa:bb:cc", "000:c:29:aa:bb:cc", "00:0c:29:aa:bb:cg",
                           "000c.29aa.bbcc.dd", "000c29aabbcc0", "00:0c:29:aa:bb:cc:dd", "0:c:29:aa:bb:", "0::29:aa:bb:cc",
                           "000c-29aa.bbcc", "000c-29aa-bbc", "000c29-aabbc", "00c29-aabbcc", "000c29.aabbcc"}) {
    EXPECT_FALSE(ParseAddress(text, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(identifier::FormatMac(*ParseAddress("000c.29aa.bbcc", nullptr)), "00:0C:29:AA:BB:CC");
}

// Every notation of a 64-bit EUI and of a World Wide Name, what it gives,
// and the errors that say why an input holds no registry number.
TEST(RegistryAddress, EuisAndWorldWideNames) {
  using identifier::Derivation;
  using identifier::IdentifierKind;
  const struct {
    const char* text;
    bool wwn;  // lookup --wwn
    IdentifierKind kind;
    uint64_t value;  // looked up: the first six bytes, or the MAC or OUI inside a WWN
    bool prefixOnly;
    Derivation derived;
  } rows[] = {
      {"00:12:4b:00:1c:d4:e0:a1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"00-12-4B-00-1C-D4-E0-A1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"0012.4b00.1cd4.e0a1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"0002:c903:00a1:b2c3", false, IdentifierKind::Eui64, 0x0002C90300A1, false, Derivation::None},
      {"0012-4b00-1cd4-e0a1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"00124b001cd4e0a1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"0x00124B001CD4E0A1", false, IdentifierKind::Eui64, 0x00124B001CD4, false, Derivation::None},
      {"eui.0025385b71b00d24", false, IdentifierKind::Eui64, 0x0025385B71B0, false, Derivation::None},
      {"08002b:0102030405", false, IdentifierKind::Eui64, 0x08002B010203, false, Derivation::None},
      {"08002b-0102030405", false, IdentifierKind::Eui64, 0x08002B010203, false, Derivation::None},
      {"08002b01:02030405", false, IdentifierKind::Eui64, 0x08002B010203, false, Derivation::None},
      {"naa.5000c500a1b2c3d4", false, IdentifierKind::Wwn, 0x000C50000000, true, Derivation::WwnNaa5},
      {"wwn-0x5000c500a1b2c3d4", false, IdentifierKind::Wwn, 0x000C50000000, true, Derivation::WwnNaa5},
      {"/dev/disk/by-id/wwn-0x5000c500a1b2c3d4-part2", false, IdentifierKind::Wwn, 0x000C50000000, true,
       Derivation::WwnNaa5},
      {"naa.600508b1001c4d5e6f708192a3b4c5d6", false, IdentifierKind::Wwn, 0x00508B000000, true, Derivation::WwnNaa6},
      {"21:00:00:24:ff:4a:bc:de", true, IdentifierKind::Wwn, 0x0024FF4ABCDE, false, Derivation::WwnNaa2},
      {"0x5000c500a1b2c3d4", true, IdentifierKind::Wwn, 0x000C50000000, true, Derivation::WwnNaa5},
      {"10000000c9a1b2c3", true, IdentifierKind::Wwn, 0x0000C9A1B2C3, false, Derivation::WwnNaa1},
      {"600508b1001c4d5e6f708192a3b4c5d6", true, IdentifierKind::Wwn, 0x00508B000000, true, Derivation::WwnNaa6},
      {"eui.0025385b71b00d24", true, IdentifierKind::Eui64, 0x0025385B71B0, false, Derivation::None},
  };
  for (const auto& row : rows) {
    std::string error;
    const auto a = ParseAddress(row.text, &error, {row.wwn});
    ASSERT_TRUE(a) << row.text << ": " << error;
    EXPECT_EQ(a->kind, row.kind) << row.text;
    EXPECT_EQ(a->value, row.value) << row.text;
    EXPECT_EQ(a->prefixOnly, row.prefixOnly) << row.text;
    EXPECT_EQ(a->derivedFrom, row.derived) << row.text;
  }
  const struct {
    const char* text;
    bool wwn;
    const char* error;
  } refusals[] = {
      {"naa.3000c500a1b2c3d4", false, "a locally assigned World Wide Name (NAA type 3) carries no registry number"},
      {"naa.c000c500a1b2c3d4", false, "a World Wide Name of NAA type 12 carries no registry number"},
      {"naa.5000c500a1b2c3d4a1b2c3d4a1b2c3d4", false, "32 digits are a 128-bit name"},
      {"naa.6000c500a1b2c3d4", false, "NAA type 6 names are 128-bit"},
      {"0x5000c500a1b2c3d4a1b2c3d4a1b2c3d4", true, "not a MAC address; expected"},
      {"00124b001cd4e0a1a1b2c3d4a1b2c3d4", false, "not a MAC address; expected"},
      {"eui.0025385b71b00d2", false, "not a MAC address; expected"},
  };
  for (const auto& row : refusals) {
    std::string error;
    EXPECT_FALSE(ParseAddress(row.text, &error, {row.wwn})) << row.text;
    EXPECT_NE(error.find(row.error), std::string::npos) << row.text << ": " << error;
  }
}

TEST(RegistryAddress, ClassesQuadrantsAndWellKnownAddresses) {
  auto cls = [](const char* text) { return identifier::Classify(*ParseAddress(text, nullptr)); };
  EXPECT_TRUE(cls("ff:ff:ff:ff:ff:ff").broadcast);
  EXPECT_FALSE(cls("ff:ff:ff").broadcast);  // a block, not the address
  EXPECT_TRUE(cls("01:00:5e:00:00:01").group);
  EXPECT_FALSE(cls("01:00:5e:00:00:01").local);
  EXPECT_TRUE(cls("02:00:00:00:00:01").local);
  EXPECT_FALSE(cls("00:0c:29:aa:bb:cc").local);
  EXPECT_EQ(cls("0a:00:00:00:00:01").quadrant, identifier::Quadrant::Eli);
  EXPECT_EQ(cls("0e:00:00:00:00:01").quadrant, identifier::Quadrant::Sai);
  EXPECT_EQ(cls("02:00:00:00:00:01").quadrant, identifier::Quadrant::Aai);
  EXPECT_EQ(cls("06:00:00:00:00:01").quadrant, identifier::Quadrant::Reserved);
  EXPECT_EQ(cls("00:0c:29:aa:bb:cc").quadrant, identifier::Quadrant::None);

  auto note = [&](const char* text) { return std::string(cls(text).note ? cls(text).note : "-"); };
  EXPECT_EQ(note("01:80:c2:00:00:00"), "IEEE 802.1Q bridge group address (Spanning Tree)");
  EXPECT_EQ(note("01:80:c2:00:00:0f"), "IEEE 802.1Q reserved group address");
  EXPECT_EQ(note("01:00:5e:7f:ff:ff"), "IPv4 multicast");
  EXPECT_EQ(note("01:00:5e:80:00:00"), "MPLS multicast");
  EXPECT_EQ(note("33:33:00:00:00:fb"), "IPv6 multicast");
  EXPECT_EQ(note("33:33:00"), "IPv6 multicast");
  EXPECT_EQ(note("01:00:5e"), "-");  // only half the block is IPv4 multicast
  EXPECT_EQ(note("00:0c:29:aa:bb:cc"), "VMware virtual NIC (generated by ESXi/Workstation)");
  EXPECT_EQ(note("00:0c:28:aa:bb:cc"), "-");
}

TEST_F(RegistryLookup, LongestPrefixWins) {
  // 70-B3-D5 and 00-50-C2 belong to the Registration Authority; their
  // blocks to the makers.
  EXPECT_EQ(Answer("70:b3:d5:f2:f1:23"), "MA-S 70B3D5F2F TELEPLATFORMS");
  EXPECT_EQ(Answer("00:50:c2:7d:5a:bc"), "IAB 0050C27D5 DEUTA-WERKE GmbH");
  EXPECT_EQ(Answer("20:85:93:b1:23:45"), "MA-M 208593B IOG Products LLC");
  // Outside every child block the parent answers.
  EXPECT_EQ(Answer("98:06:37:f0:00:00"), "MA-L 980637 IEEE Registration Authority");
  EXPECT_EQ(Answer("20:85:93"), "MA-L 208593 IEEE Registration Authority");
  EXPECT_EQ(Answer("00:0c:29:aa:bb:cc"), "MA-L 000C29 VMware, Inc.");
}

TEST_F(RegistryLookup, LocalBitAddressesConsultEveryRegistry) {
  EXPECT_EQ(Answer("0a:e6:a6:12:34:56"), "CID 0AE6A6 Example Cid Holder Ltd.");
  EXPECT_EQ(Answer("aa:00:04:00:12:34"), "MA-L AA0004 DIGITAL EQUIPMENT CORPORATION");
  EXPECT_EQ(Answer("02:00:00:00:00:01"), "none");
  // A group address is its holder's assignment with the I/G bit set.
  EXPECT_EQ(Answer("01:00:5e:00:00:fb").substr(0, 11), "MA-L 00005E");
  EXPECT_EQ(Answer("ff:ff:ff:ff:ff:ff"), "none");
}

TEST_F(RegistryLookup, JsonHasExactlyTheDocumentedKeys) {
  std::string json;
  answer::AppendJsonMembers(&json, "70-b3-d5-f2-f1-23", Look("70-b3-d5-f2-f1-23"));
  EXPECT_EQ(json,
            "\"input\":\"70-b3-d5-f2-f1-23\",\"mac\":\"70:B3:D5:F2:F1:23\",\"registry\":\"MA-S\","
            "\"assignment\":\"70B3D5F2F\",\"bits\":36,\"organization\":\"TELEPLATFORMS\","
            "\"address\":[\"Polbina st., 3/1\",\"Moscow    109388\",\"RU\"],\"also\":[],\"source\":null,"
            "\"group\":false,\"local\":false,"
            "\"broadcast\":false,\"note\":null,\"derived_from\":null,\"kind\":\"mac\",\"identifier\":null");
  json.clear();
  answer::AppendJsonMembers(&json, "33:33:00:00:00:01", Look("33:33:00:00:00:01"));
  EXPECT_NE(json.find("\"registry\":null,\"assignment\":null,\"bits\":null,\"organization\":null,\"address\":[],"
                      "\"also\":[],\"source\":null,\"group\":true,\"local\":true,\"broadcast\":false,\"note\":\"IPv6 multicast\""),
            std::string::npos)
      << json;
  // A random (locally administered) address says which IEEE 802c quadrant.
  json.clear();
  answer::AppendJsonMembers(&json, "02:00:00:00:00:01", Look("02:00:00:00:00:01"));
  EXPECT_NE(json.find("\"local\":true,\"broadcast\":false,\"note\":\"IEEE 802c AAI"), std::string::npos) << json;
}

TEST(RegistryAddress, Ipv6InterfaceIdentifiersGiveTheirMac) {
  for (const char* text : {"fe80::20c:29ff:fe3a:5b7c", "FE80::020C:29FF:FE3A:5B7C", "fe80:0:0:0:20c:29ff:fe3a:5b7c",
                           "fe80::20c:29ff:fe3a:5b7c%eth0", "fe80::20c:29ff:fe3a:5b7c/64",
                           "fe80::20c:29ff:fe3a:5b7c%br-1a2b.100/64", " 2001:db8::20c:29ff:fe3a:5b7c/0 ",
                           "fe80::20c:29ff:254.58.91.124", "::20c:29ff:fe3a:5b7c"}) {
    std::string error;
    auto a = ParseAddress(text, &error);
    ASSERT_TRUE(a) << text << ": " << error;
    EXPECT_EQ(a->value, 0x000C293A5B7Cu) << text;
    EXPECT_EQ(a->derivedFrom, identifier::Derivation::Ipv6Eui64) << text;
    EXPECT_FALSE(a->prefixOnly);
  }
  // The universal/local bit is inverted: 02 in the identifier is 00 in the MAC.
  EXPECT_EQ(ParseAddress("fe80::ff:fe00:1", nullptr)->value, 0x020000000001u);
  EXPECT_EQ(ParseAddress("00:0c:29:aa:bb:cc", nullptr)->derivedFrom, identifier::Derivation::None);

  auto error = [](const char* text) {
    std::string e;
    EXPECT_FALSE(ParseAddress(text, &e)) << text;
    return e;
  };
  for (const char* text : {"fe80::1", "2001:db8::ff:fe00:0:1", "::", "::ffff:192.168.1.1", "fe80::1/64", "fe80::1%eth0"})
    EXPECT_NE(error(text).find("an IPv6 address whose interface identifier holds no MAC address"), std::string::npos)
        << text;
  for (const char* text : {"fe80::1%", "fe80::1%eth 0", "fe80::20c:29ff:fe3a:5b7c%0123456789abcdef", "fe80::1%a:b"})
    EXPECT_NE(error(text).find("the zone after '%'"), std::string::npos) << text;
  for (const char* text : {"fe80::1/", "fe80::1/129", "fe80::1/6a", "fe80::1/0064", "fe80::1/64/64"})
    EXPECT_NE(error(text).find("the prefix length after '/'"), std::string::npos) << text;
  for (const char* text : {"fe80::zz", "fe80:::1", "1::2::3", "1:2:3:4:5:6:7:8:9", "fe80::20c:29ff:fe3a:5b7c0"})
    EXPECT_EQ(error(text).rfind("not a MAC address nor an IPv6 address", 0), 0u) << text;
  // A NUL inside is no end of the address.
  std::string e;
  EXPECT_FALSE(ParseAddress(std::string_view("fe80::20c:29ff:fe3a:5b7c\0::1", 29), &e));
  EXPECT_EQ(e.rfind("not a MAC address nor an IPv6 address", 0), 0u) << e;
}

TEST(RegistryAddress, WellKnownAndVirtualAddresses) {
  auto note = [](const char* text) {
    auto a = ParseAddress(text, nullptr);
    EXPECT_TRUE(a) << text;
    const char* n = identifier::Classify(a.value_or(identifier::ParsedAddress{})).note;
    return std::string(n ? n : "-");
  };
  EXPECT_EQ(note("01:80:c2:00:00:08"), "IEEE 802.1Q provider bridge group address (S-VLAN Spanning Tree)");
  EXPECT_EQ(note("00:00:5e:00:01:05"), "VRRP virtual router (IPv4) or CARP virtual host");
  EXPECT_EQ(note("00:00:5e:00:02:05"), "VRRP virtual router (IPv6)");
  EXPECT_EQ(note("00:00:5e:00:53:01"), "documentation address (RFC 7042)");
  EXPECT_EQ(note("00:00:0c:07:ac:0a"), "Cisco HSRP virtual router (version 1)");
  EXPECT_EQ(note("0000.0c9f.f00a"), "Cisco HSRP virtual router (version 2)");
  EXPECT_EQ(note("00:00:0c:9f:e0:0a"), "-");
  EXPECT_EQ(note("0005.73a0.0001"), "Cisco HSRP virtual router (IPv6)");
  EXPECT_EQ(note("0007.b400.0101"), "Cisco GLBP virtual forwarder");
  EXPECT_EQ(note("01:00:0c:cc:cc:cc"), "Cisco CDP, VTP, DTP, UDLD");
  EXPECT_EQ(note("01:00:0c:cd:cd:cd"), "Cisco UplinkFast station-learning frame");
  EXPECT_EQ(note("02-bf-0a-00-00-05"), "Microsoft NLB cluster address (unicast mode)");
  EXPECT_EQ(note("03-bf-0a-00-00-05"), "Microsoft NLB cluster address (multicast mode)");
  EXPECT_EQ(note("52:54:00:12:34:56"), "QEMU/KVM virtual NIC");
  EXPECT_EQ(note("02:42:ac:11:00:02"), "Docker container interface");
  EXPECT_EQ(note("08:00:27:12:34:56"), "VirtualBox virtual NIC");
  EXPECT_EQ(note("0a:00:27:00:00:00"), "VirtualBox host-only network adapter (host side)");
  EXPECT_EQ(note("00:16:3e:12:34:56"), "Xen virtual NIC");
  EXPECT_EQ(note("00:15:5d:01:02:03"), "Hyper-V virtual NIC");
  EXPECT_EQ(note("00:50:56:3f:ff:ff"), "VMware virtual NIC (static address)");
  EXPECT_EQ(note("00:50:56:80:00:01"), "VMware virtual NIC (generated by vCenter)");
  EXPECT_EQ(note("00:50:56:40:00:01"), "VMware virtual NIC or VMkernel adapter");
  EXPECT_EQ(note("00:50:56"), "VMware virtual NIC or VMkernel adapter");  // the whole block
  EXPECT_EQ(note("00:0c:29:aa:bb:cc"), "VMware virtual NIC (generated by ESXi/Workstation)");
  EXPECT_EQ(note("00:05:69:00:00:01"), "VMware virtual NIC");
  EXPECT_EQ(note("00:1c:14:00:00:01"), "VMware virtual NIC");
  EXPECT_EQ(note("00:1c:42:00:00:01"), "Parallels virtual NIC");
  EXPECT_EQ(note("00:1c:43:00:00:01"), "-");
}

// A registry entry's formatted texts are kept between calls; another set of
// tables (here the built-in one, whose 2011 address for VMware differs) must
// never be answered from them.
TEST_F(RegistryLookup, KeptTextsFollowTheTablesInUse) {
  auto json = [](const registry::RegistryTables& tables) {
    std::string out;
    answer::AppendJsonMembers(&out, "x", answer::Describe(tables, *ParseAddress("00:0c:29:aa:bb:cc", nullptr)));
    return out;
  };
  auto csv = [](const registry::RegistryTables& tables) {
    std::string out;
    answer::AppendCsvRow(&out, "x", answer::Describe(tables, *ParseAddress("00:0c:29:aa:bb:cc", nullptr)));
    return out;
  };
  const std::string fromCache = json(*tables_), csvCache = csv(*tables_);
  {
    // A cache directory without table files: the built-in MA-L table alone.
    registry::RegistryTables builtIn;
    setenv("XDG_CACHE_HOME", (dir_ + "/none").c_str(), 1);
    builtIn.Load(nullptr);
    setenv("XDG_CACHE_HOME", dir_.c_str(), 1);
    const auto match = builtIn.Lookup(0x000C29AABBCC, false);
    ASSERT_TRUE(match);
    std::string expected;
    // The whole address, whose last line ("UNITED STATES" in 2011, "US"
    // today) tells the listings apart.
    expected += "\"address\":[";
    for (size_t from = 0, nl; from <= match->address.size(); from = nl + 1) {
      nl = std::min(match->address.find('\n', from), match->address.size());
      if (from != 0) expected += ',';
      text::AppendJsonString(&expected, match->address.substr(from, nl - from));
    }
    expected += ']';
    EXPECT_NE(json(builtIn).find(expected), std::string::npos) << json(builtIn);
    EXPECT_NE(json(builtIn), fromCache);
    EXPECT_EQ(json(*tables_), fromCache);
    EXPECT_EQ(csv(*tables_), csvCache);
  }
  EXPECT_EQ(json(*tables_), fromCache);
}

// Debian's tables, whatever their date: every block's own addresses name
// the block, never its parent; a three-byte input names a 24-bit holder.
// With the indexes built for many lookups and without them.
TEST_F(RegistryDebian, LongestPrefixWinsForEveryBlock) {
  SKIP_UNLESS_IEEE_DATA();
  for (const auto& r : RefreshFolder(kIeeeData)) ASSERT_NE(r.status, update::RefreshResult::Status::Kept);
  for (bool manyLookups : {true, false}) {
    registry::RegistryTables tables;
    tables.Load(stderr, manyLookups);
    for (Registry r : {Registry::MaL, Registry::MaM, Registry::MaS, Registry::Iab}) {
      const listing::TableView& t = tables.table(r);
      SCOPED_TRACE(listing::Info(r).name);
      ASSERT_GT(t.size(), 0u);
      const int rest = 48 - t.bits();
      for (uint32_t i = 0; i < t.size(); ++i) {
        const uint64_t last = (t.KeyAt(i) << rest) | ((uint64_t{1} << rest) - 1);
        const auto match = tables.Lookup(last, r == Registry::MaL);
        ASSERT_TRUE(match && match->bits == t.bits() && match->prefix == t.KeyAt(i)) << std::hex << last;
      }
    }
  }
}
