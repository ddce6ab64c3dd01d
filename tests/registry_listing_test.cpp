// Reading the five listings in both forms, and refusing what is not one.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <vector>

#include "vessarine/listing/listing.h"
#include "tests/test_support.h"

using listing::ParseListing;
using listing::Registry;

namespace {

// The entries view the listing's bytes: each listing read here stays for the
// rest of the run.
std::string_view Kept(std::string bytes) {
  static std::deque<std::string> kept;
  return kept.emplace_back(std::move(bytes));
}

std::map<uint64_t, listing::Entry> ByPrefix(const listing::ParsedListing& parsed) {
  std::map<uint64_t, listing::Entry> out;
  for (auto& e : listing::TableEntries(parsed)) out.emplace(e.prefix, std::move(e));
  return out;
}

const listing::Entry& At(const std::map<uint64_t, listing::Entry>& m, uint64_t prefix) {
  auto it = m.find(prefix);
  EXPECT_NE(it, m.end()) << std::hex << prefix;
  static const listing::Entry kNone;
  return it == m.end() ? kNone : it->second;
}

}  // namespace

// The fixtures: the text and CSV form of each registry give the same
// assignments, and range lines give the extra digits.
TEST(RegistryListing, FixturesInBothForms) {
  struct Case {
    Registry r;
    uint64_t prefix;
    const char* organization;
  } cases[] = {
      {Registry::MaL, 0x002272, "American Micro-Fuel Device Corp."},
      {Registry::MaM, 0x208593B, "IOG Products LLC"},
      {Registry::MaS, 0x70B3D5F2F, "TELEPLATFORMS"},
      {Registry::Iab, 0x0050C27D5, "DEUTA-WERKE GmbH"},
  };
  for (const Case& c : cases) {
    const std::string base = kFixtures + "/" + std::string(listing::Info(c.r).fileBase);
    SCOPED_TRACE(base);
    auto text = ParseListing(Kept(ReadFile(base + ".txt")), c.r);
    auto csv = ParseListing(Kept(ReadFile(base + ".csv")), c.r);
    ASSERT_TRUE(text.ok()) << text.refusal;
    ASSERT_TRUE(csv.ok()) << csv.refusal;
    auto t = ByPrefix(text), v = ByPrefix(csv);
    EXPECT_EQ(t.size(), v.size());
    EXPECT_EQ(At(t, c.prefix).organization, c.organization);
    EXPECT_EQ(At(v, c.prefix).organization, c.organization);
  }
  // Multi-line addresses in the text form, one line in the CSV form;
  // "Private" entries have no address.
  auto mam = ByPrefix(ParseListing(Kept(ReadFile(kFixtures + "/mam.txt")), Registry::MaM));
  EXPECT_EQ(At(mam, 0x208593B).address, "9737 LURLINE AVENUE\nCHATSWORTH  CA  91311\nUS");
  EXPECT_EQ(At(mam, 0x741AE09).organization, "Private");
  EXPECT_EQ(At(mam, 0x741AE09).address, "");
  auto cid = ByPrefix(ParseListing(Kept(ReadFile(kFixtures + "/cid.txt")), Registry::Cid));
  EXPECT_EQ(At(cid, 0x0AE6A6).address, "1 Example Road\nSpringfield  IL  62701\nUS");
  EXPECT_EQ(At(cid, 0xBA5500).organization, "Private");
  cid = ByPrefix(ParseListing(Kept(ReadFile(kFixtures + "/cid.csv")), Registry::Cid));
  EXPECT_EQ(At(cid, 0x1AC0FF).organization, "Quote \"Q\" GmbH");
  EXPECT_EQ(At(cid, 0x1AC0FF).address, "Stra\xC3\x9F" "e 1, K\xC3\xB6ln\nDE");
}

// Debian's copies, whatever their date: both forms of each registry name the
// same holders for the same assignments (the text form writes the names
// without the quotes some have).
TEST(RegistryListing, DebianListingsAgreeInBothForms) {
  SKIP_UNLESS_IEEE_DATA();
  for (Registry r : {Registry::MaL, Registry::MaM, Registry::MaS, Registry::Iab}) {
    const std::string base = kIeeeData + "/" + std::string(listing::Info(r).fileBase);
    SCOPED_TRACE(base);
    std::vector<std::pair<uint64_t, std::string>> forms[2];
    for (int k = 0; k < 2; ++k) {
      auto parsed = ParseListing(Kept(ReadFile(base + (k == 0 ? ".txt" : ".csv"))), r);
      ASSERT_TRUE(parsed.ok()) << parsed.refusal;
      for (auto& e : listing::TableEntries(parsed)) {
        std::erase(e.organization, '"');
        forms[k].emplace_back(e.prefix, std::move(e.organization));
      }
      std::sort(forms[k].begin(), forms[k].end());
    }
    EXPECT_FALSE(forms[0].empty());
    EXPECT_TRUE(forms[0] == forms[1]) << forms[0].size() << " vs " << forms[1].size();
  }
}

// The 2011 listing is ISO 8859-1 with a few UTF-8 lines: each text ends up
// as UTF-8, converted once.
TEST(RegistryListing, OlderListingBecomesUtf8) {
  auto parsed = ParseListing(Kept(Listing2011()), Registry::MaL);
  ASSERT_TRUE(parsed.ok()) << parsed.refusal;
  auto m = ByPrefix(parsed);
  EXPECT_EQ(At(m, 0x000DD2).address.substr(0, 14), "Ensj\xC3\xB8veien 23");
  EXPECT_EQ(At(m, 0x0014AD).organization, "Gassner Wiege- u. Me\xC3\x9Ftechnik GmbH");
  // Blank-only lines inside an address and a "Private" entry running
  // straight into the next one.
  EXPECT_EQ(At(m, 0x000DD3).address, "171, Dangjung-Dong,\nGunpo Kyoung-Gi 435-831\nKOREA, REPUBLIC OF");
  EXPECT_EQ(At(m, 0x00006C).organization, "PRIVATE");
  EXPECT_EQ(At(m, 0x00006D).organization, "CRAY COMMUNICATIONS, LTD.");
}

// Terminal control sequences in a listing never reach the output.
TEST(RegistryListing, ControlCharactersBecomeSpaces) {
  auto parsed = ParseListing(
      "00-22-72   (hex)\t\tEvil\x1b]0;x\x07 Corp\x9b\n002272     (base 16)\t\tEvil\n\t\t\t\tOne\x7fTwo\n\n",
      Registry::MaL);
  ASSERT_TRUE(parsed.ok()) << parsed.refusal;
  const listing::Entry entry = listing::TableEntries(parsed).at(0);
  EXPECT_EQ(entry.organization, "Evil ]0;x  Corp");
  EXPECT_EQ(entry.address, "One Two");
}

// Each shape that is not a whole listing of the registry asked for.
TEST(RegistryListing, RefusesWhatIsNotAListing) {
  const std::string mal = "OUI/MA-L   Organization\n\n00-22-72   (hex)\t\tA Corp\n002272     (base 16)\t\tA Corp\n\t\t\t\tUS\n\n";
  ASSERT_TRUE(ParseListing(mal, Registry::MaL).ok());
  struct Case {
    const char* what;
    std::string bytes;
    Registry r;
    const char* reason;
  } cases[] = {
      {"html", "<!DOCTYPE html>\n<html><body>Service Unavailable</body></html>\n", Registry::MaL, "HTML"},
      {"empty", "\n\n", Registry::MaL, "empty"},
      {"cut mid-line", mal.substr(0, mal.size() - 4), Registry::MaL, "cut short"},
      {"cut after hex line", mal.substr(0, mal.find("002272")), Registry::MaL, "(base 16)"},
      {"other registry's header", ReadFile(kFixtures + "/mam.txt"), Registry::MaL, "MA-M listing"},
      {"36-bit ranges as MA-M", "00-50-C2   (hex)\t\tX\n7D5000-7D5FFF     (base 16)\t\tX\n\n", Registry::MaM,
       "not a 28-bit block"},
      {"24-bit as MA-S", "00-22-72   (hex)\t\tA\n002272     (base 16)\t\tA\n\n", Registry::MaS, "24-bit assignment"},
      {"hex and base 16 disagree", "00-22-72   (hex)\t\tA\n002273     (base 16)\t\tA\n\n", Registry::MaL,
       "does not match"},
      {"text after the entries", mal + "<p>error</p>\n", Registry::MaL, "outside any entry"},
      {"csv of another registry", ReadFile(kFixtures + "/iab.csv"), Registry::MaS, "IAB listing"},
      {"csv quote never closed", "Registry,Assignment,Organization Name,Organization Address\nMA-L,002272,\"A Corp,x\n",
       Registry::MaL, "never closed"},
      {"csv short row", "Registry,Assignment,Organization Name,Organization Address\nMA-L,002272,A Corp\n",
       Registry::MaL, "4 fields"},
      {"csv bad assignment", "Registry,Assignment,Organization Name,Organization Address\nMA-L,00227,A,B\n",
       Registry::MaL, "assignment"},
  };
  for (const Case& c : cases) {
    auto parsed = ParseListing(c.bytes, c.r);
    EXPECT_FALSE(parsed.ok()) << c.what;
    EXPECT_NE(parsed.refusal.find(c.reason), std::string::npos) << c.what << ": " << parsed.refusal;
  }
}

TEST(RegistryListing, TellsWhichRegistryAListingIs) {
  EXPECT_EQ(listing::RegistryOfListing(ReadFile(kFixtures + "/oui36.txt")), Registry::MaS);
  EXPECT_EQ(listing::RegistryOfListing(ReadFile(kFixtures + "/iab.csv")), Registry::Iab);
  EXPECT_EQ(listing::RegistryOfListing(ReadFile(kFixtures + "/cid.txt")), Registry::Cid);
  EXPECT_EQ(listing::RegistryOfListing(Listing2011()), Registry::MaL);
  EXPECT_EQ(listing::RegistryOfListing("<html></html>\n"), std::nullopt);
}
