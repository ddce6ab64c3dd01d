// Addresses as users write them, their classes, and the longest-prefix
// answer across every registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "vessarine/registry/address.h"
#include "vessarine/registry/describe.h"
#include "vessarine/registry/refresh.h"
#include "vessarine/registry/tables.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using registry::ParseAddress;
using registry::Registry;

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
      ASSERT_EQ(r.status, registry::RefreshResult::Status::Updated) << registry::Describe(r);
    }
    tables_ = new registry::RegistryTables;
    tables_->Load(stderr);
  }
  static void TearDownTestSuite() {
    delete tables_;
    std::filesystem::remove_all(dir_);
    unsetenv("XDG_CACHE_HOME");
  }

  static registry::Description Look(const char* text) {
    std::string error;
    auto a = ParseAddress(text, &error);
    EXPECT_TRUE(a) << text << ": " << error;
    return registry::Describe(*tables_, a.value_or(registry::ParsedAddress{}));
  }
  // "MA-S 70B3D5F2F TELEPLATFORMS", or "none".
  static std::string Answer(const char* text) {
    auto d = Look(text);
    if (!d.match) return "none";
    return std::string(registry::Info(d.match->registry).name) + " " + registry::AssignmentDigits(*d.match) + " " +
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
  for (const char* text : {"00:0c:29:aa:bb:cc", "00-0C-29-AA-BB-CC", "000c.29aa.bbcc", "000C29aabbcc", " 00:0c:29:aa:bb:cc\r"}) {
    auto a = ParseAddress(text, nullptr);
    ASSERT_TRUE(a) << text;
    EXPECT_EQ(a->value, 0x000C29AABBCCu) << text;
    EXPECT_FALSE(a->prefixOnly);
  }
  for (const char* text : {"00:0c:29", "00-0c-29", "000c29"}) {
    auto a = ParseAddress(text, nullptr);
    ASSERT_TRUE(a) << text;
    EXPECT_EQ(a->value, 0x000C29000000u);
    EXPECT_TRUE(a->prefixOnly);
  }
  std::string error;
  for (const char* text : {"", "00:0c:29:aa:bb", "00:0c-29:aa:bb:cc", "0:c:29:aa:bb:cc", "00:0c:29:aa:bb:cg",
                           "000c.29aa.bbcc.dd", "000c29aabbcc0", "00:0c:29:aa:bb:cc:dd"}) {
    EXPECT_FALSE(ParseAddress(text, &error)) << text;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(registry::FormatMac(*ParseAddress("000c.29aa.bbcc", nullptr)), "00:0C:29:AA:BB:CC");
}

TEST(RegistryAddress, ClassesQuadrantsAndWellKnownAddresses) {
  auto cls = [](const char* text) { return registry::Classify(*ParseAddress(text, nullptr)); };
  EXPECT_TRUE(cls("ff:ff:ff:ff:ff:ff").broadcast);
  EXPECT_FALSE(cls("ff:ff:ff").broadcast);  // a block, not the address
  EXPECT_TRUE(cls("01:00:5e:00:00:01").group);
  EXPECT_FALSE(cls("01:00:5e:00:00:01").local);
  EXPECT_TRUE(cls("02:00:00:00:00:01").local);
  EXPECT_FALSE(cls("00:0c:29:aa:bb:cc").local);
  EXPECT_EQ(cls("0a:00:00:00:00:01").quadrant, registry::Quadrant::Eli);
  EXPECT_EQ(cls("0e:00:00:00:00:01").quadrant, registry::Quadrant::Sai);
  EXPECT_EQ(cls("02:00:00:00:00:01").quadrant, registry::Quadrant::Aai);
  EXPECT_EQ(cls("06:00:00:00:00:01").quadrant, registry::Quadrant::Reserved);
  EXPECT_EQ(cls("00:0c:29:aa:bb:cc").quadrant, registry::Quadrant::None);

  auto note = [&](const char* text) { return std::string(cls(text).note ? cls(text).note : "-"); };
  EXPECT_EQ(note("01:80:c2:00:00:00"), "IEEE 802.1Q bridge group address (Spanning Tree)");
  EXPECT_EQ(note("01:80:c2:00:00:0f"), "IEEE 802.1Q reserved group address");
  EXPECT_EQ(note("01:00:5e:7f:ff:ff"), "IPv4 multicast");
  EXPECT_EQ(note("01:00:5e:80:00:00"), "MPLS multicast");
  EXPECT_EQ(note("33:33:00:00:00:fb"), "IPv6 multicast");
  EXPECT_EQ(note("33:33:00"), "IPv6 multicast");
  EXPECT_EQ(note("01:00:5e"), "-");  // only half the block is IPv4 multicast
  EXPECT_EQ(note("00:0c:29:aa:bb:cc"), "-");
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
  registry::AppendJsonMembers(&json, "70-b3-d5-f2-f1-23", Look("70-b3-d5-f2-f1-23"));
  EXPECT_EQ(json,
            "\"input\":\"70-b3-d5-f2-f1-23\",\"mac\":\"70:B3:D5:F2:F1:23\",\"registry\":\"MA-S\","
            "\"assignment\":\"70B3D5F2F\",\"bits\":36,\"organization\":\"TELEPLATFORMS\","
            "\"address\":[\"Polbina st., 3/1\",\"Moscow    109388\",\"RU\"],\"group\":false,\"local\":false,"
            "\"broadcast\":false,\"note\":null");
  json.clear();
  registry::AppendJsonMembers(&json, "33:33:00:00:00:01", Look("33:33:00:00:00:01"));
  EXPECT_NE(json.find("\"registry\":null,\"assignment\":null,\"bits\":null,\"organization\":null,\"address\":[],"
                      "\"group\":true,\"local\":true,\"broadcast\":false,\"note\":\"IPv6 multicast\""),
            std::string::npos)
      << json;
  // A random (locally administered) address says which IEEE 802c quadrant.
  json.clear();
  registry::AppendJsonMembers(&json, "02:00:00:00:00:01", Look("02:00:00:00:00:01"));
  EXPECT_NE(json.find("\"local\":true,\"broadcast\":false,\"note\":\"IEEE 802c AAI"), std::string::npos) << json;
}

// Debian's tables, whatever their date: every block's own addresses name
// the block, never its parent; a three-byte input names a 24-bit holder.
TEST_F(RegistryDebian, LongestPrefixWinsForEveryBlock) {
  SKIP_UNLESS_IEEE_DATA();
  for (const auto& r : RefreshFolder(kIeeeData)) ASSERT_NE(r.status, registry::RefreshResult::Status::Kept);
  registry::RegistryTables tables;
  tables.Load(stderr);
  for (Registry r : {Registry::MaL, Registry::MaM, Registry::MaS, Registry::Iab}) {
    const registry::TableView& t = tables.table(r);
    SCOPED_TRACE(registry::Info(r).name);
    ASSERT_GT(t.size(), 0u);
    const int rest = 48 - t.bits();
    for (uint32_t i = 0; i < t.size(); ++i) {
      const uint64_t last = (t.KeyAt(i) << rest) | ((uint64_t{1} << rest) - 1);
      const auto match = tables.Lookup(last, r == Registry::MaL);
      ASSERT_TRUE(match && match->bits == t.bits() && match->prefix == t.KeyAt(i)) << std::hex << last;
    }
  }
}
