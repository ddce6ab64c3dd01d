// The whole update against a loopback server, and the cache rewrite with its
// failure cases: each ends with the right messages, store and files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vessarine/db/cache_files.h"
#include "vessarine/store/gbk.h"
#include "vessarine/db/loader.h"
#include "vessarine/listing/convert.h"
#include "vessarine/registry/tables.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "tests/loopback_http.h"
#include "tests/test_support.h"
#include "vessarine/update/update.h"
#include "vessarine/update/update_texts.h"

namespace fs = std::filesystem;

namespace {

using Message = std::pair<std::string, std::string>;  // caption, text (GBK)

const Message kDownloadFailed{kCaptionUpdateFailed, kMsgDownloadFailed};
const Message kUnreadable{kCaptionUpdateFailed, kMsgListingUnreadable};
const Message kDownloaded{kCaptionUpdate, kMsgDownloadDone};
const Message kFailed{kCaptionUpdateFailed, kMsgUpdateFailed};
const Message kDone{kCaptionUpdate, kMsgUpdateDone};


// Two entries, one of them private, and a third "hex" outside any entry: the
// tables are sized for three records and hold two.
const char kSmallListing[] =
    "hex is counted here too\r\n"
    "\r\n"
    "00-00-0C   (hex)\t\tCisco Systems, Inc\r\n"
    "00000C     (base 16)\t\tCisco Systems, Inc\r\n"
    "\t\t\t\t170 West Tasman Drive\r\n"
    "\t\t\t\tSan Jose  CA  95134\r\n"
    "\r\n"
    "00-00-6C   (hex)\t\tPRIVATE\r\n"
    "00006C     (base 16)\r\n"
    "\r\n";

// Stands in for the dialog: records what the conversion thread asks of it.
class RecordingUi : public UpdateUi {
 public:
  void StepProgress() override {
    std::lock_guard lock(mutex_);
    ++steps;
  }
  void SetProgressPos(int p) override {
    std::lock_guard lock(mutex_);
    pos = p;
  }
  void ShowMessage(const char* caption, const char* text) override {
    std::lock_guard lock(mutex_);
    messages.emplace_back(caption, text);
  }
  void SetVersionText(const std::string& text) override {
    std::lock_guard lock(mutex_);
    g_strDbVersion = text;
  }
  std::vector<Message> Messages() {
    std::lock_guard lock(mutex_);
    return messages;
  }
  int Steps() {
    std::lock_guard lock(mutex_);
    return steps;
  }
  int steps = 0;
  int pos = 0;
  std::vector<Message> messages;

 private:
  std::mutex mutex_;
};

class UpdateTest : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    xdg = xdgDir;
    cache = CacheDir();
    g_bRefreshPending.store(0);
    LoadDatabase();
    // What the dialog shows once the update has started.
    g_strDbVersion = kVersionRunning;
    loadedMac = companyMacList;
    loadedCount = companyCount;
  }
  // The dialog's update of the MA-L listing at `url`, the other listings
  // from the loopback server too; waits for its conversion thread.
  std::vector<Message> RunUpdate(const std::string& url) {
    EXPECT_TRUE(StartUpdateThreads(ui, Source(url)));
    WaitForUpdate();
    return ui.Messages();
  }

  void WaitForUpdate() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (g_bUpdateRunning.load() != 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(g_bUpdateRunning.load(), 0) << "update still running";
  }

  // Forced: the small listings here would otherwise be refused for holding
  // far fewer entries than the built-in table.
  UpdateSource Source(const std::string& url) {
    UpdateSource source = MirrorSource(url, http.Url("/site"));
    source.force = true;
    return source;
  }

  // The conversion alone, of an MA-L listing on disk, taken as a download.
  static ConvertOptions FromFile(const std::string& path, bool downloaded = true) {
    ConvertOptions options;
    options.listings[0] = ListingAt(path, downloaded);
    options.waitForDownload = false;
    options.force = true;
    return options;
  }
  std::vector<Message> Convert(const std::string& listing) {
    const std::string path = xdg + "/listing.txt";
    WriteFile(path, listing);
    ConvertThreadProc(ui, FromFile(path));
    return ui.Messages();
  }

  std::string Cache(const char* name) const { return cache + "/" + name; }

  // The old cache files of an earlier update.
  void PutOldCache() {
    fs::create_directories(cache);
    WriteFile(Cache(kCacheMacFile), "old mac");
    WriteFile(Cache(kCacheAddrFile), "old addr");
    WriteFile(Cache(kCacheVersionFile), "old version");
  }

  // A path nothing can be written to or renamed onto.
  void Block(const std::string& path) {
    fs::create_directories(path + "/in-the-way");
  }

  bool StoreUntouched() const {
    std::shared_lock lock(StoreLock());
    return companyMacList == loadedMac && companyCount == loadedCount;
  }

  // No temporary cache file is left behind.
  void ExpectOnlyCacheFiles() const {
    if (!fs::exists(cache)) return;
    for (const auto& entry : fs::directory_iterator(cache)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == kCacheMacFile || name == kCacheAddrFile || name == kCacheVersionFile ||
                  name == kCacheSetFile || name == kCacheLockFile || name.ends_with(".regtable"))
          << name;
    }
  }

  // The one downloaded listing left in the cache directory.
  std::string OnlyListing() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(cache)) {
      if (entry.path().filename().string().rfind(kListingTempFile, 0) == 0) found.push_back(entry.path());
    }
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? "" : found[0];
  }

  // The store holds the small listing's two records.
  static void ExpectSmallStore() {
    std::shared_lock lock(StoreLock());
    ASSERT_EQ(companyCount, 2);
    EXPECT_EQ(GetCompanyText(0), "Cisco Systems, Inc\n170 West Tasman Drive\nSan Jose  CA  95134\n");
    EXPECT_EQ(GetCompanyText(1), "PRIVATE\nPRIVATE\n");
  }

  std::string xdg;
  std::string cache;
  RecordingUi ui;
  LoopbackHttp http;
  const char* loadedMac = nullptr;
  int32_t loadedCount = 0;
};

TEST(UpdateTextsTest, VersionTextHasNoLeadingZeros) {
  std::tm day{};
  day.tm_year = 2012 - 1900;
  day.tm_mon = 2;
  day.tm_mday = 5;
  EXPECT_EQ(GbkToUtf8(VersionText(day)), "当前数据库版本为2012-3-5");
  day.tm_year = 2026 - 1900;
  day.tm_mon = 11;
  day.tm_mday = 31;
  EXPECT_EQ(GbkToUtf8(VersionText(day)), "当前数据库版本为2026-12-31");
}

TEST_F(UpdateTest, The2011ListingRebuildsTheBuiltInCopyAndItsCache) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  // The built-in copy is this listing converted; the update must give the
  // same bytes.
  std::string builtinMac, builtinAddr;
  {
    std::shared_lock lock(StoreLock());
    builtinMac.assign(companyMacList, static_cast<size_t>(companyCount) * kRecordSize);
    builtinAddr = companyAddrList;
  }
  // Served in 10,240-byte pieces: some 240 reads.
  http.Serve("/oui/oui.txt", 200, Listing2011(), 10240);
  const std::string before = TodaysVersionText();
  EXPECT_EQ(RunUpdate(http.Url("/oui/oui.txt?aa=1")), (std::vector<Message>{kDownloaded, kDone}));
  const std::string after = TodaysVersionText();

  EXPECT_EQ(ui.pos, 1000);
  EXPECT_FALSE(StoreUntouched());
  EXPECT_EQ(companyCount, listing2011::kRecords);
  EXPECT_EQ(ReadFile(Cache(kCacheMacFile)), builtinMac);
  EXPECT_EQ(ReadFile(Cache(kCacheAddrFile)), builtinAddr);
  const std::string version = ReadFile(Cache(kCacheVersionFile));
  EXPECT_TRUE(version == before || version == after) << GbkToUtf8(version);
  EXPECT_EQ(g_strDbVersion, version);
  EXPECT_EQ(g_bRefreshPending.load(), 1);
  // The registry lookup's MA-L table comes from the same listing.
  EXPECT_TRUE(fs::exists(Cache("ma-l.regtable")));
  ExpectOnlyCacheFiles();

  // The next start loads the cache.
  g_strDbVersion = kVersionBuiltin;
  LoadDatabase();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(g_strDbVersion, version);
  std::shared_lock lock(StoreLock());
  ASSERT_EQ(companyCount, listing2011::kRecords);
  EXPECT_EQ(GetCompanyText(0),
            "XEROX CORPORATION\nM/S 105-50C\n800 PHILLIPS ROAD\nWEBSTER NY 14580\nUNITED STATES\n");
}

// The holder's name in a record's company text: its first line, without the
// blanks the listing may leave around it (the store keeps them, the
// registry tables do not).
std::string Holder(const std::string& text) {
  const std::string line = text.substr(0, text.find('\n'));
  const size_t from = line.find_first_not_of(" \t");
  return from == std::string::npos ? "" : line.substr(from, line.find_last_not_of(" \t") + 1 - from);
}

// Today's registry as Debian ships it, whatever its date: a record for each
// entry, and the store (the window's and mac's answer) and the MA-L table
// (lookup's) name the same holder for every assignment.
TEST_F(UpdateTest, TodaysRegistryFromDebian) {
  SKIP_UNLESS_IEEE_DATA();
  const std::string listing = ReadFile(kIeeeData + "/oui.txt");
  http.Serve("/oui.txt", 200, listing);
  EXPECT_EQ(RunUpdate(http.Url("/oui.txt")), (std::vector<Message>{kDownloaded, kDone}));
  EXPECT_EQ(ReadFile(Cache(kCacheAddrFile)).find_first_of("\r\n"), std::string::npos);
  g_strDbVersion = kVersionBuiltin;
  LoadDatabase();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(fs::file_size(Cache(kCacheMacFile)), static_cast<size_t>(companyCount) * kRecordSize);
  const auto tables = registry::SharedTables();
  ASSERT_EQ(tables->source(listing::Registry::MaL), registry::TableSource::Cache);
  std::shared_lock lock(StoreLock());
  EXPECT_EQ(static_cast<size_t>(companyCount), CountOf(listing, "(base 16)"));
  std::set<int64_t> seen;  // a prefix listed twice: its first entry
  for (int32_t i = 0; i < companyCount; ++i) {
    const int64_t prefix = HexToInt(companyMacList + static_cast<size_t>(i) * kRecordSize, 6);
    if (!seen.insert(prefix).second) continue;
    const auto match = tables->Lookup(static_cast<uint64_t>(prefix) << 24, true);
    ASSERT_TRUE(match) << std::hex << prefix;
    ASSERT_EQ(Holder(GetCompanyText(i)), Holder(listing::StoreCompanyText(match->organization, ""))) << i;
  }
}

TEST_F(UpdateTest, RedirectChainToTheListing) {
  http.Serve("/listing", 200, kSmallListing);
  http.Redirect("/a", "/b", 301);
  http.Redirect("/b", "/c", 302);
  http.Redirect("/c", http.Url("/listing"), 307);
  EXPECT_EQ(RunUpdate(http.Url("/a?aa=5")), (std::vector<Message>{kDownloaded, kDone}));
  ExpectSmallStore();
  // Sized from three counted "hex", written for the two records found.
  EXPECT_EQ(fs::file_size(Cache(kCacheMacFile)), 2u * kRecordSize);
  EXPECT_EQ(ReadFile(Cache(kCacheAddrFile)),
            "0000170 West Tasman Drive>San Jose  CA  95134>0001PRIVATE>");
}

TEST_F(UpdateTest, AnHtmlPageIsRefusedAndChangesNothing) {
  PutOldCache();
  const std::string page = "<html><body>Request Rejected</body></html>\n";
  http.Serve("/oui.txt", 200, page);
  EXPECT_EQ(RunUpdate(http.Url("/oui.txt")), (std::vector<Message>{kDownloaded, kFailed}));
  EXPECT_TRUE(StoreUntouched());
  EXPECT_EQ(ReadFile(Cache(kCacheMacFile)), "old mac");
  EXPECT_EQ(ReadFile(Cache(kCacheAddrFile)), "old addr");
  EXPECT_EQ(ReadFile(Cache(kCacheVersionFile)), "old version");
  // The listing stays for a look; the version box keeps the running text.
  EXPECT_EQ(ReadFile(OnlyListing()), page);
  EXPECT_EQ(g_strDbVersion, kVersionRunning);
  EXPECT_EQ(g_bRefreshPending.load(), 0);
}

// An empty answer (a broken mirror, a captive portal) is no listing: it is
// refused, and the database and its cache stay as they were.
// So is one with far fewer entries than the table it would replace, unless
// forced.
TEST_F(UpdateTest, AnEmptyOrThinListingIsRefused) {
  http.Serve("/oui.txt", 200, "");
  http.Serve("/thin.txt", 200, kSmallListing);
  PutOldCache();
  EXPECT_EQ(RunUpdate(http.Url("/oui.txt")), (std::vector<Message>{kDownloaded, kFailed}));
  ui.messages.clear();
  UpdateSource thin = Source(http.Url("/thin.txt"));
  thin.force = false;
  ASSERT_TRUE(StartUpdateThreads(ui, thin));
  WaitForUpdate();
  EXPECT_EQ(ui.Messages(), (std::vector<Message>{kDownloaded, kFailed}));
  EXPECT_TRUE(StoreUntouched());
  EXPECT_EQ(ReadFile(Cache(kCacheMacFile)), "old mac");
  EXPECT_EQ(g_bRefreshPending.load(), 0);
}

TEST_F(UpdateTest, FailedDownloadsChangeNothing) {
  http.Serve("/404", 404, "Not Found");
  http.Serve("/206", 206, kSmallListing);
  http.Serve("/418", 418, "I'm a teapot");
  // Released at once: the body ends after 3000 of its 90000 bytes.
  http.StallAfter("/stall", 3000, 90000);
  http.ReleaseStalls();
  PutOldCache();
  for (const char* path : {"/404", "/206", "/418", "/stall"}) {
    SCOPED_TRACE(path);
    ui.messages.clear();
    ui.pos = 0;
    EXPECT_EQ(RunUpdate(http.Url(path)), (std::vector<Message>{kDownloadFailed}));
    EXPECT_EQ(ui.pos, 1000);
    EXPECT_TRUE(StoreUntouched());
    EXPECT_EQ(ReadFile(Cache(kCacheMacFile)), "old mac");
    EXPECT_EQ(ReadFile(Cache(kCacheVersionFile)), "old version");
    EXPECT_EQ(g_strDbVersion, kVersionRunning);
  }
  // Not even the body cut short left a (partial) listing.
  for (const auto& entry : fs::directory_iterator(cache)) {
    EXPECT_NE(entry.path().filename().string().rfind(kListingTempFile, 0), 0u) << entry.path();
  }
}

TEST_F(UpdateTest, ProgressStepsWhileTheDownloadRuns) {
  http.StallBeforeHeaders("/slow");
  ASSERT_TRUE(StartUpdateThreads(ui, Source(http.Url("/slow"))));
  // The bar moves while the server holds the answer back.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ui.Steps() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_GT(ui.Steps(), 0);
  EXPECT_EQ(ui.Messages(), std::vector<Message>{});
  // One update at a time.
  EXPECT_FALSE(StartUpdateThreads(ui, Source(http.Url("/slow"))));
  http.ReleaseStalls();
  WaitForUpdate();
  // "late" holds no entry: the listing is refused.
  EXPECT_EQ(ui.Messages(), (std::vector<Message>{kDownloaded, kFailed}));
  EXPECT_EQ(ui.pos, 1000);
  EXPECT_EQ(http.Requests().size(), 5u);  // one request per registry
  // And a new one may start afterwards.
  ui.messages.clear();
  http.Serve("/listing", 200, kSmallListing);
  EXPECT_EQ(RunUpdate(http.Url("/listing")), (std::vector<Message>{kDownloaded, kDone}));
  ExpectSmallStore();
}

TEST_F(UpdateTest, AListingThatCannotBeReadIsM3) {
  EXPECT_FALSE(ConvertThreadProc(ui, FromFile(xdg + "/no-such-file")));
  // A directory opens on Linux, but is no listing; a FIFO never blocks.
  EXPECT_FALSE(ConvertThreadProc(ui, FromFile(xdg)));
  ASSERT_EQ(mkfifo((xdg + "/fifo").c_str(), 0644), 0);
  EXPECT_FALSE(ConvertThreadProc(ui, FromFile(xdg + "/fifo")));
  EXPECT_EQ(ui.Messages(), (std::vector<Message>{kUnreadable, kUnreadable, kUnreadable}));
  EXPECT_TRUE(StoreUntouched());
}

// A download goes once converted; the user's own listing file stays.
TEST_F(UpdateTest, AConvertedDownloadIsDeletedTheUsersFileKept) {
  const std::string path = xdg + "/mine.txt";
  WriteFile(path, kSmallListing);
  EXPECT_TRUE(ConvertThreadProc(ui, FromFile(path, false)));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(ConvertThreadProc(ui, FromFile(path, true)));
  EXPECT_FALSE(fs::exists(path));
  ExpectSmallStore();
}

// A cache set that cannot be committed ends with the failure message and the
// new store in memory; what was in place stays as it was, and nothing this
// update wrote is left behind.
TEST_F(UpdateTest, ACacheFileThatCannotBeReplacedChangesNoFile) {
  for (const char* name : {kCacheMacFile, kCacheVersionFile}) {
    SCOPED_TRACE(name);
    PutOldCache();
    fs::remove(Cache(name));
    Block(Cache(name));
    ui.messages.clear();
    EXPECT_EQ(Convert(kSmallListing), (std::vector<Message>{kDownloaded, kFailed}));
    ExpectSmallStore();
    EXPECT_EQ(ReadFile(Cache(kCacheAddrFile)), "old addr");
    EXPECT_FALSE(fs::exists(Cache(kCacheSetFile)));
    EXPECT_EQ(g_strDbVersion, kVersionRunning);
    EXPECT_EQ(g_bRefreshPending.load(), 0);
    fs::remove_all(Cache(name));
    ExpectOnlyCacheFiles();
  }
  // The converted listing is gone all the same.
  EXPECT_FALSE(fs::exists(xdg + "/listing.txt"));
}

// Another process's rewrite holds the lock: the update waits a bounded time,
// then fails and writes nothing.
TEST_F(UpdateTest, AHeldLockFailsTheUpdateAfterAWhile) {
  PutOldCache();
  std::optional<CacheDirLock> other = CacheDirLock::Exclusive(std::chrono::milliseconds(0));
  ASSERT_TRUE(other.has_value());
  const std::string path = xdg + "/listing.txt";
  WriteFile(path, kSmallListing);
  EXPECT_FALSE(ConvertThreadProc(ui, FromFile(path)));
  EXPECT_EQ(ui.Messages(), (std::vector<Message>{kDownloaded, kFailed}));
  EXPECT_EQ(ReadFile(Cache(kCacheMacFile)), "old mac");
  other.reset();
  ExpectOnlyCacheFiles();
}

TEST_F(UpdateTest, CacheDirectoryThatCannotBeMade) {
  WriteFile(cache, "a file where the directory should be");
  EXPECT_EQ(Convert(kSmallListing), (std::vector<Message>{kDownloaded, kFailed}));
  ExpectSmallStore();
  EXPECT_EQ(ReadFile(cache), "a file where the directory should be");
}

TEST_F(UpdateTest, RewriteReplacesEarlierCacheAndLeavesNoTemporaryFiles) {
  PutOldCache();
  // Leftovers of updates cut short, one of them a link to a file that must
  // survive, and the listing of a process that has ended.
  WriteFile(Cache(kCacheMacFile) + ".new", "torn");
  WriteFile(Cache(kCacheAddrFile) + ".new.Ab12Cd", "torn");
  WriteFile(xdg + "/victim", "precious");
  fs::create_symlink(xdg + "/victim", Cache(kCacheVersionFile) + ".new");
  WriteFile(Cache(kListingTempFile) + ".999999999.0", "old download");
  EXPECT_EQ(Convert(kSmallListing), (std::vector<Message>{kDownloaded, kDone}));
  EXPECT_EQ(fs::file_size(Cache(kCacheMacFile)), 2u * kRecordSize);
  EXPECT_EQ(ReadFile(Cache(kCacheVersionFile)), g_strDbVersion);
  EXPECT_EQ(ReadFile(xdg + "/victim"), "precious");
  ExpectOnlyCacheFiles();
}

TEST_F(UpdateTest, CommandLineUpdate) {
  const std::string listing = xdg + "/oui.txt";
  WriteFile(listing, kSmallListing);
  CliRun run = RunCli(xdg, "update --force --from '" + listing + "'");
  EXPECT_EQ(run.out, "下载完成，进行数据库更新\n完成更新\n");
  EXPECT_EQ(ReadFile(listing), kSmallListing);  // the user's file is kept
  EXPECT_EQ(fs::file_size(Cache(kCacheMacFile)), 2u * kRecordSize);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.rfind("MA-L: updated, 2 entries", 0), 0u) << run.err;

  const std::string page = xdg + "/page.html";
  WriteFile(page, "<html></html>");
  run = RunCli(xdg, "update --from '" + page + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "下载完成，进行数据库更新\n数据库更新失败\n");

  run = RunCli(xdg, "update --from '" + xdg + "/absent'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "更新MAC地址列表失败，请稍候尝试\n");
  ASSERT_EQ(mkfifo((xdg + "/fifo").c_str(), 0644), 0);
  run = RunCli(xdg, "update --from '" + xdg + "/fifo'");  // never blocks
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "更新MAC地址列表失败，请稍候尝试\n");

  http.Serve("/gone", 404, "no");
  run = RunCli(xdg, "update --url '" + http.Url("/gone") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "更新MAC地址列表失败，请检查网络连接是否正常！\n");

  for (const char* bad : {"--bogus", "--url", "--from", "--url a --from b", "--from a --from b",
                          "--site a --from b", "extra"}) {
    SCOPED_TRACE(bad);
    run = RunCli(xdg, std::string("update ") + bad);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
  }
}

// Every registry from a mirror of the registry's site: the store and the
// MA-L table from oui.txt, the other tables from their own listings. A
// registry whose listing fails keeps its table and fails the command.
TEST_F(UpdateTest, CommandLineUpdateRefreshesEveryRegistry) {
  for (const char* path : {"/oui/oui.txt", "/oui28/mam.txt", "/oui36/oui36.txt", "/iab/iab.txt", "/cid/cid.txt"})
    http.Serve(path, 200, ReadFile(kFixtures + std::strrchr(path, '/')));
  // Forced: the fixture's MA-L entries are far fewer than the built-in table's.
  CliRun run = RunCli(xdg, "update --force --site '" + http.Url("") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "下载完成，进行数据库更新\n完成更新\n");
  EXPECT_EQ(CountOf(run.err, ": updated, "), 5u) << run.err;
  ExpectOnlyCacheFiles();
  const std::string cidTable = ReadFile(Cache("cid.regtable"));
  ASSERT_FALSE(cidTable.empty());

  http.Serve("/cid/cid.txt", 200, "<html><body>Request Rejected</body></html>");
  run = RunCli(xdg, "update --force --site '" + http.Url("") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(CountOf(run.err, ": updated, "), 4u) << run.err;
  EXPECT_NE(run.err.find("CID: kept the previous table"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(Cache("cid.regtable")), cidTable);
}

}  // namespace

// A second online update asks only for what changed: a 304 leaves the
// database and its table as they are (nothing rewritten) and says since
// when; --force downloads whole, and --changes lists what an update changed.
TEST_F(UpdateTest, UpdatesAskOnlyForChangesAndSayWhatChanged) {
  std::string listing = kSmallListing;
  std::string conditional;
  http.Handle("/site/oui/oui.txt", [&](const httplib::Request& req, httplib::Response& res) {
    conditional = req.get_header_value("If-None-Match");
    res.set_header("ETag", "\"v1\"");
    res.set_header("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT");
    if (conditional == "\"v1\"") {
      res.status = 304;
    } else {
      res.set_content(listing, "text/plain");
    }
  });
  const std::string site = "--site '" + http.Url("/site") + "'";
  ASSERT_EQ(RunCli(xdg, "update --force " + site).out, "下载完成，进行数据库更新\n完成更新\n");
  struct stat before {};
  ASSERT_EQ(stat(Cache(kCacheMacFile).c_str(), &before), 0);

  CliRun run = RunCli(xdg, "update " + site);
  EXPECT_EQ(conditional, "\"v1\"");
  EXPECT_EQ(run.out, "");  // nothing to convert, nothing to say on the database's behalf
  EXPECT_NE(run.err.find("MA-L: unchanged since Tue, 01 Dec 2026 10:00:00 GMT"), std::string::npos) << run.err;
  struct stat after {};
  ASSERT_EQ(stat(Cache(kCacheMacFile).c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  for (size_t at; (at = listing.find("Systems")) != std::string::npos;) listing.replace(at, 7, "Renamed");
  run = RunCli(xdg, "update --force --changes " + site);
  EXPECT_TRUE(conditional.empty());
  EXPECT_NE(run.out.find("MA-L ~ 00000C Cisco Systems, Inc -> Cisco Renamed, Inc\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("MA-L: updated, 2 entries (+0 new, -0 withdrawn, 1 renamed)"), std::string::npos) << run.err;
}

// Every update that holds the lock clears what killed updates left, also
// one that refreshes a single registry table.
TEST_F(UpdateTest, AnyUpdateRemovesStaleTemporaries) {
  fs::create_directories(cache);
  WriteFile(Cache("ma-m.regtable.new.Ab12Cd"), "torn");
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string download = Cache(kListingTempFile) + "." + std::to_string(gone) + ".0";
  WriteFile(download, "a dead process's download");
  const std::string mam = xdg + "/mam.csv";
  WriteFile(mam, "Registry,Assignment,Organization Name,Organization Address\r\nMA-M,208593B,IOG Products LLC,US\r\n");
  CliRun run = RunCli(xdg, "update --from '" + mam + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(Cache("ma-m.regtable.new.Ab12Cd")));
  EXPECT_FALSE(fs::exists(download));
  EXPECT_FALSE(fs::exists(Cache(kCacheMacFile)));  // the database is left alone
}
