// Registry tables in the cache directory: saved whole or not at all, and a
// damaged file ignored with a message rather than trusted.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "vessarine/db/cache_files.h"
#include "vessarine/listing/listing.h"
#include "vessarine/update/table_refresh.h"
#include "vessarine/registry/tables.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using listing::Registry;
using Status = update::RefreshResult::Status;

namespace {

class RegistryCache : public CacheHomeTest {
 protected:
  std::string TablePath(Registry r) const {
    return xdgDir + "/vessarine/" + db::TableFile(r);
  }
  // Loads every table; returns what was said on stderr.
  std::string Load(registry::RegistryTables* tables) {
    std::FILE* err = std::tmpfile();
    tables->Load(err);
    std::rewind(err);
    std::string text;
    for (int c; (c = std::fgetc(err)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(err);
    return text;
  }
};

}  // namespace

TEST_F(RegistryCache, FolderRefreshSavesEachListedRegistry) {
  // A folder without a registry's listing leaves that registry alone.
  std::filesystem::create_directories(xdgDir + "/one");
  std::filesystem::copy_file(kFixtures + "/oui36.txt", xdgDir + "/one/oui36.txt");
  auto results = RefreshFolder(xdgDir + "/one");
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[2].status, Status::Updated);
  EXPECT_EQ(update::Summary(results[4]), "CID: no listing");

  results = RefreshFolder(kFixtures, true);
  for (const auto& r : results) EXPECT_EQ(r.status, Status::Updated) << update::Summary(r);
  EXPECT_EQ(results[0].entries, 11u);  // twelve entries, 0001C8 listed twice
  EXPECT_EQ(results[0].source, kFixtures + "/oui.txt");

  registry::RegistryTables tables;
  EXPECT_EQ(Load(&tables), "");
  for (Registry r : listing::kAllRegistries) {
    EXPECT_EQ(tables.source(r), registry::TableSource::Cache);
    EXPECT_EQ(tables.table(r).size(), results[static_cast<size_t>(r)].entries);
  }
  // Only the registry tables are written; the store's files are not touched.
  for (const char* name : {"~cmpymac~", "~cmpyaddr~", "~macUpDate~"})
    EXPECT_FALSE(std::filesystem::exists(xdgDir + "/vessarine/" + name)) << name;
}

TEST_F(RegistryCache, RefusedListingKeepsThePreviousTable) {
  ASSERT_EQ(RefreshFile(Registry::Cid, kFixtures + "/cid.csv").status, Status::Updated);
  ASSERT_EQ(RefreshFile(Registry::MaM, kFixtures + "/mam.csv").status, Status::Updated);
  const std::string cid = ReadFile(TablePath(Registry::Cid));
  const std::string mam = ReadFile(TablePath(Registry::MaM));

  WriteFile(xdgDir + "/page.txt", "<html><body>Bad gateway</body></html>\n");
  auto html = RefreshFile(Registry::Cid, xdgDir + "/page.txt");
  EXPECT_EQ(html.status, Status::Kept);
  EXPECT_NE(update::Summary(html).find("CID: kept the previous table: " + xdgDir + "/page.txt is an HTML page"),
            std::string::npos);
  // A listing cut short at an entry's end still parses, but is far smaller.
  const std::string full = ReadFile(kFixtures + "/mam.txt");
  auto partial = RefreshListing(Registry::MaM, full.substr(0, full.find("\r\n\r\n", full.find("(base 16)")) + 4));
  EXPECT_EQ(partial.status, Status::Kept);
  EXPECT_NE(partial.reason.find("1 entries, far fewer than the 5 "), std::string::npos) << partial.reason;
  // Another registry's listing.
  EXPECT_EQ(RefreshFile(Registry::MaM, kFixtures + "/oui36.txt").status, Status::Kept);
  // Not a regular file.
  EXPECT_EQ(RefreshFile(Registry::MaM, xdgDir).status, Status::Kept);

  EXPECT_EQ(ReadFile(TablePath(Registry::Cid)), cid);
  EXPECT_EQ(ReadFile(TablePath(Registry::MaM)), mam);
}

// One rule for every registry: far fewer entries, or far more than the
// registry could grow by, is refused unless forced.
TEST(RegistryRefusal, OneRuleForThinAndBloatedListings) {
  EXPECT_NE(update::RefusalOf(2, 15196, false).find("far fewer than the 15,196"), std::string::npos);
  EXPECT_EQ(update::RefusalOf(2, 15196, true), "");
  EXPECT_EQ(update::RefusalOf(7598, 15196, false), "");
  EXPECT_NE(update::RefusalOf(325270, 32527, false).find("far more"), std::string::npos);
  EXPECT_EQ(update::RefusalOf(325270, 32527, true), "");
  EXPECT_EQ(update::RefusalOf(90000, 100, false), "");  // a small table may grow into a real one
  EXPECT_EQ(update::RefusalOf(1, 0, false), "");
}

TEST_F(RegistryCache, ListingFileOfAnyRegistryIsToldByItsContent) {
  std::filesystem::create_directories(xdgDir + "/in");
  std::filesystem::copy_file(kFixtures + "/cid.txt", xdgDir + "/in/download.txt");
  std::string problem;
  EXPECT_EQ(update::RegistryOfListingFile(xdgDir + "/in/download.txt", &problem), Registry::Cid) << problem;
  const auto result = RefreshFile(Registry::Cid, xdgDir + "/in/download.txt");
  EXPECT_EQ(result.status, Status::Updated);
  EXPECT_EQ(result.entries, 2u);
  EXPECT_EQ(update::RegistryOfListingFile(xdgDir + "/in", &problem), std::nullopt);  // not a file
}

// Each kind of damage: the table is left out with a message naming the
// file, and MA-L falls back to the built-in table.
TEST_F(RegistryCache, DamagedTablesAreIgnoredWithAMessage) {
  // Without any table file MA-L is the built-in table.
  registry::RegistryTables builtIn;
  builtIn.Load(nullptr);
  ASSERT_EQ(builtIn.source(Registry::MaL), registry::TableSource::BuiltIn);
  ASSERT_EQ(RefreshFile(Registry::MaL, kFixtures + "/oui.csv", true).status, Status::Updated);
  const auto iabRefresh = RefreshFile(Registry::Iab, kFixtures + "/iab.csv");
  ASSERT_EQ(iabRefresh.status, Status::Updated);
  const std::string mal = ReadFile(TablePath(Registry::MaL));
  const std::string iab = ReadFile(TablePath(Registry::Iab));

  struct Case {
    const char* what;
    std::string malBytes;
    const char* message;
  } cases[] = {
      {"a flipped text byte", mal.substr(0, mal.size() - 3) + char(mal[mal.size() - 3] ^ 1) + mal.substr(mal.size() - 2),
       "fails its checksum"},
      {"cut short", mal.substr(0, mal.size() / 2), "cut short"},
      {"a flipped header byte", mal.substr(0, 56) + char(mal[56] ^ 1) + mal.substr(57), "fails its checksum"},
      {"another registry's table", iab, "another registry's table"},
      {"not a table", ReadFile(kFixtures + "/oui.csv"), "not a registry table"},
  };
  // Copied, the bytes are checked in memory; mapped in place, as read
  // from the file.
  for (CacheHold hold : {CacheHold::PrivateCopy, CacheHold::LeasedMapping}) {
    SetCacheHold(hold);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      WriteFile(TablePath(Registry::MaL), c.malBytes);
      registry::RegistryTables tables;
      const std::string said = Load(&tables);
      EXPECT_NE(said.find(TablePath(Registry::MaL)), std::string::npos) << said;
      EXPECT_NE(said.find(c.message), std::string::npos) << said;
      EXPECT_NE(said.find("using the built-in MA-L table"), std::string::npos) << said;
      EXPECT_EQ(tables.source(Registry::MaL), registry::TableSource::BuiltIn);
      EXPECT_EQ(tables.table(Registry::MaL).size(), builtIn.table(Registry::MaL).size());
      EXPECT_EQ(tables.table(Registry::Iab).size(), iabRefresh.entries);  // the others still load
    }
  }
  SetCacheHold(CacheHold::PrivateCopy);

  // A link or a FIFO in the table's place is never followed or opened for
  // blocking reads.
  std::filesystem::remove(TablePath(Registry::Iab));
  std::filesystem::create_symlink(xdgDir + "/elsewhere", TablePath(Registry::Iab));
  WriteFile(xdgDir + "/elsewhere", iab);
  std::filesystem::remove(TablePath(Registry::MaL));
  ASSERT_EQ(::mkfifo(TablePath(Registry::MaL).c_str(), 0600), 0);
  registry::RegistryTables tables;
  const std::string said = Load(&tables);
  EXPECT_NE(said.find("symbolic link"), std::string::npos) << said;
  EXPECT_NE(said.find("not a regular file"), std::string::npos) << said;
  EXPECT_EQ(tables.source(Registry::Iab), registry::TableSource::None);
  EXPECT_EQ(tables.source(Registry::MaL), registry::TableSource::BuiltIn);
}

TEST(RegistryTable, ImageRoundTripKeepsEveryHolderOfDuplicates) {
  std::vector<listing::Entry> entries = {
      {0x70B3D5F2F, "B", "x\ny"}, {0x0050C27D5, "A", ""}, {0x70B3D5F2F, "later duplicate", "z"}};
  // Both encoders: from entries, and from a listing as an update reads it.
  const std::string listing =
      "Registry,Assignment,Organization Name,Organization Address\n"
      "MA-S,70B3D5F2F,B,x\nMA-S,0050C27D5,A,\nMA-S,70B3D5F2F,later duplicate,z\n";
  const listing::ParsedListing parsed = listing::ParseListing(listing, Registry::MaS);
  ASSERT_TRUE(parsed.ok()) << parsed.refusal;
  for (const std::string& image : {listing::EncodeImage(Registry::MaS, entries),
                                   listing::EncodeImage(Registry::MaS, parsed)}) {
    std::string problem;
    auto view = listing::TableView::FromImage(image.data(), image.size(), Registry::MaS, true, &problem);
    ASSERT_TRUE(view) << problem;
    ASSERT_EQ(view->size(), 2u);
    EXPECT_EQ(view->Find(0x0050C27D5), 0);
    EXPECT_EQ(view->OrganizationAt(1), "B");
    EXPECT_EQ(view->Find(0x70B3D5F30), -1);
    EXPECT_EQ(view->Find(0), -1);
    EXPECT_TRUE(view->FurtherHolders(0).empty());
    const auto further = view->FurtherHolders(1);
    ASSERT_EQ(further.size(), 1u);
    EXPECT_EQ(further[0].organization, "later duplicate");
    EXPECT_EQ(further[0].address, "z");

    // A further holder pointing past the last entry is refused before use.
    std::string bad = image;
    const size_t alsoOf = sizeof(listing::ImageHeader) + 2 * 24 + 16;
    bad[alsoOf] = 2;
    EXPECT_FALSE(listing::TableView::FromImage(bad.data(), bad.size(), Registry::MaS, false, &problem));
    EXPECT_EQ(problem, "has its entries out of order");
    // Bytes that cannot be read are never taken for a table.
    const auto unreadable = [&image](uint64_t offset, size_t, char*) -> const char* {
      return offset == 0 ? image.data() : nullptr;  // the header reads, nothing after it
    };
    EXPECT_FALSE(listing::TableView::FromImage(image.data(), image.size(), Registry::MaS, true, unreadable, &problem));
  }

  // An image written before further holders were kept still reads.
  std::string old = listing::EncodeImage(Registry::MaS, {entries[0], entries[1]});
  old[8] = 1;  // version
  std::string problem;
  auto view = listing::TableView::FromImage(old.data(), old.size(), Registry::MaS, false, &problem);
  ASSERT_TRUE(view) << problem;
  EXPECT_EQ(view->size(), 2u);
  EXPECT_TRUE(view->FurtherHolders(1).empty());
}
