// Queries on one thread while updates replace the store and rewrite the
// cache on others: conversions of listings on disk, the exit button
// releasing the store mid-update, and real online updates of both front
// ends downloading every listing from a loopback mirror over HTTPS. Run
// under ThreadSanitizer (-DVESSARINE_SANITIZE=thread), which fails them on
// any unordered access to what an update shares.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/query/queries.h"
#include "vessarine/update/update.h"
#include "vessarine/update/update_texts.h"
#include "tests/loopback_http.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

class QuietUi : public UpdateUi {
 public:
  void StepProgress() override {}
  void SetProgressPos(int) override {}
  void ShowMessage(const char*, const char* text) override {
    last = text;
    ++messages;
  }
  void SetVersionText(const std::string&) override {}
  std::string last;
  std::atomic<int> messages{0};
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

// The window's update and the command line's at once, each twice, while
// queries run: one update of the process at a time, each whole.
TEST_F(RaceTest, OnlineUpdatesOfBothFrontEnds) {
  LoopbackHttp mirror(LoopbackHttp::Scheme::Https);
  mirror.RefuseAgentsButCurlAndBrowsers();
  for (const char* path : {"/oui/oui.txt", "/oui28/mam.txt", "/oui36/oui36.txt", "/iab/iab.txt", "/cid/cid.txt"}) {
    mirror.Serve(path, 200, ReadFile(std::string(VESSARINE_TEST_DATA) + std::strrchr(path, '/')));
  }
  ASSERT_EQ(setenv("CURL_CA_BUNDLE", LoopbackHttp::Certificate::Get().cert.c_str(), 1), 0);
  UpdateSource source = MirrorSource("", mirror.Url(""));
  source.force = true;

  std::atomic<bool> stop{false};
  long rounds = 0;
  std::thread queries([&] { QueryUntil(stop, rounds); });
  QuietUi window, terminal;
  std::atomic<int> windowCompleted{0}, terminalCompleted{0};
  std::thread windowUpdates([&] {
    for (int done = 0; done < 2; ++done) {
      const int before = window.messages.load();
      while (!StartUpdateThreads(window, source)) std::this_thread::yield();
      // Its end is its last message: "完成更新" or a failure.
      while (window.messages.load() < before + 2) std::this_thread::yield();
      if (window.last == kMsgUpdateDone) ++windowCompleted;
    }
  });
  for (int done = 0; done < 2;) {
    std::vector<update::RefreshResult> results;
    if (RunUpdateHere(terminal, source, &results)) {
      ++terminalCompleted;
      ++done;
    } else if (results.size() != 1 || results[0].reason.find("another update") == std::string::npos) {
      ++done;
    }
  }
  windowUpdates.join();
  while (g_bUpdateRunning.load() != 0) std::this_thread::yield();
  stop.store(true);
  queries.join();
  unsetenv("CURL_CA_BUNDLE");
  EXPECT_EQ(windowCompleted.load(), 2);
  EXPECT_EQ(terminalCompleted.load(), 2);
  EXPECT_GT(rounds, 0);
}

}  // namespace
