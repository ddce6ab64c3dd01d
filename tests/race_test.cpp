// Queries on one thread while an update replaces the store and rewrites the
// cache on another, and the exit button releasing the store mid-update.
// Built for ThreadSanitizer runs (-DVESSARINE_SANITIZE=thread), where any
// unguarded access shows up; it passes in every build.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>

#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/query/queries.h"
#include "vessarine/update/update.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

class QuietUi : public UpdateUi {
 public:
  void StepProgress() override {}
  void SetProgressPos(int) override {}
  void ShowMessage(const char*, const char* text) override { last = text; }
  void SetVersionText(const std::string&) override {}
  std::string last;
};

const char kTinyListing[] =
    "00-00-0C   (hex)\t\tCisco Systems, Inc\n"
    "00000C     (base 16)\t\tCisco Systems, Inc\n"
    "\t\t\t\t170 West Tasman Drive\n"
    "\n";

class RaceTest : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    dir = xdgDir;
    LoadDatabase();
    big = dir + "/oui-2011.txt";
    tiny = dir + "/tiny.txt";
    fs::copy_file(std::string(VESSARINE_DATA_DIR "/") + listing2011::kFileName, big);
    std::ofstream(tiny, std::ios::binary) << kTinyListing;
  }

  // The user-interface thread's part: both queries, over and over.
  void QueryUntil(const std::atomic<bool>& stop, long& rounds) {
    while (!stop.load()) {
      LookupMac("00:00:0c");
      const CompanyPage first = SearchCompanies("cisco", {}, false);
      SearchCompanies("cisco", first.next, false);
      if (rounds % 8 == 0) SearchCompanies("cisco", {}, true);
      ++rounds;
    }
  }

  static ConvertOptions From(const std::string& path) {
    ConvertOptions options;
    options.listings[0] = ListingAt(path, false);
    options.waitForDownload = false;
    options.force = true;  // the tiny listing and the big one take turns
    return options;
  }

  std::string dir, big, tiny;
};

TEST_F(RaceTest, QueriesDuringUpdates) {
  std::atomic<bool> stop{false};
  long rounds = 0;
  std::thread queries([&] { QueryUntil(stop, rounds); });
  QuietUi ui;
  int completed = 0;
  for (int i = 0; i < 4; ++i) {
    completed += ConvertThreadProc(ui, From(i % 2 == 0 ? big : tiny)) ? 1 : 0;
  }
  stop.store(true);
  queries.join();
  EXPECT_EQ(completed, 4);
  EXPECT_GT(rounds, 0);
  // The last update (the tiny listing) is what the store and cache hold.
  std::shared_lock lock(StoreLock());
  EXPECT_EQ(companyCount, 1);
  EXPECT_EQ(fs::file_size(CachePath(kCacheMacFile)), 114u);
}

// The exit button frees the store while an update runs: the update writes
// the listing it converted, whole, whenever the release comes.
TEST_F(RaceTest, StoreReleasedDuringAnUpdate) {
  fs::remove_all(CacheDir());
  QuietUi ui;
  std::atomic<bool> done{false};
  std::thread exits([&] {
    while (!done.load()) ReleaseStore();
  });
  const bool completed = ConvertThreadProc(ui, From(big));
  done.store(true);
  exits.join();
  EXPECT_TRUE(completed);
  EXPECT_EQ(fs::file_size(CachePath(kCacheMacFile)), size_t{listing2011::kRecords} * kRecordSize);
  EXPECT_EQ(fs::file_size(CachePath(kCacheAddrFile)), listing2011::kAddrLength);
  LoadDatabase();
  EXPECT_EQ(g_bCachePresent, 1);
}

}  // namespace
