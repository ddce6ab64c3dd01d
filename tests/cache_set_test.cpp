// The cache files against crashes, concurrent updates and hostile files: a
// start loads one whole set (the previous, the new or the built-in copy),
// never a mix, never hangs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <algorithm>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "tests/test_support.h"
#include "vessarine/listing/convert.h"
#include "vessarine/registry/tables.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Which whole set the store in place is.
enum class Loaded { BuiltIn, A, B, Other };

class CacheSetTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    listingA = xdgDir + "/a.txt";
    listingB = xdgDir + "/b.txt";
    std::string a = Listing2011();
    // Set B: the same prefixes, every block of another length.
    std::string b = a;
    for (size_t p = b.find("UNITED STATES"); p != std::string::npos; p = b.find("UNITED STATES", p)) {
      b.replace(p, 13, "USA");
    }
    WriteFile(listingA, a);
    WriteFile(listingB, b);
    storeA = listing::ConvertListing(a);
    storeB = listing::ConvertListing(b);
  }

  std::string Path(const char* name) const { return cacheDir + "/" + name; }

  static bool Same(const StoreSnapshot& s) {
    std::shared_lock lock(StoreLock());
    return companyCount == s.count && std::memcmp(companyMacList, s.macList, size_t(s.count) * kRecordSize) == 0 &&
           std::strcmp(companyAddrList, s.addrList) == 0;
  }

  Loaded Load() {
    StartUp();
    if (g_bCachePresent == 0) return Loaded::BuiltIn;
    return Same(*storeA) ? Loaded::A : Same(*storeB) ? Loaded::B : Loaded::Other;
  }

  void Commit(const StorePtr& store) { ASSERT_TRUE(CommitCacheSet(*store, store == storeA ? "va" : "vb")); }

  // Starts `vessarine-cli update --from listing` in a child process.
  static pid_t StartUpdate(const std::string& listing) {
    std::vector<std::string> args = {VESSARINE_CLI, "update", "--from", listing};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, VESSARINE_CLI, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string listingA, listingB;
  StorePtr storeA, storeB;
};

// Anything but a sound regular file where a cache file belongs: the built-in
// copy, at once (a FIFO never blocks the start, a huge file is never read).
TEST_F(CacheSetTest, HostileTableFilesGiveTheBuiltInCopy) {
  Commit(storeA);
  const std::string good = ReadFile(Path(kCacheMacFile));
  auto expectBuiltIn = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Load(), Loaded::BuiltIn);
    EXPECT_EQ(g_strDbVersion, kVersionBuiltin);
    fs::remove(Path(kCacheMacFile));
  };
  auto withoutMarker = [&](const std::string& table) {
    fs::remove(Path(kCacheSetFile));
    WriteFile(Path(kCacheMacFile), table);
  };
  fs::remove(Path(kCacheMacFile));
  ASSERT_EQ(mkfifo(Path(kCacheMacFile).c_str(), 0644), 0);
  expectBuiltIn("a FIFO");
  ASSERT_EQ(mkfifo((xdgDir + "/fifo").c_str(), 0644), 0);
  fs::create_symlink(xdgDir + "/fifo", Path(kCacheMacFile));
  expectBuiltIn("a link to a FIFO");
  WriteFile(xdgDir + "/table", good);
  fs::create_symlink(xdgDir + "/table", Path(kCacheMacFile));
  expectBuiltIn("a link to a sound table");
  {
    std::FILE* f = std::fopen(Path(kCacheMacFile).c_str(), "w");
    ASSERT_EQ(ftruncate(fileno(f), off_t{2} << 30), 0);
    std::fclose(f);
  }
  expectBuiltIn("a 2 GB sparse file");
  // Damaged records: checked in memory when copied, and as read from the
  // file, a block at a time, when mapped in place.
  const struct {
    const char* what;
    size_t at;
    char byte;
  } damage[] = {{"a NUL among a prefix's digits", 5 * kRecordSize + 3, '\0'},
                {"a non-hex offset digit", 7 * kRecordSize + 9, 'g'},
                {"a non-hex prefix digit far into the table", 300 * kRecordSize + 1, 'x'}};
  for (CacheHold hold : {CacheHold::PrivateCopy, CacheHold::LeasedMapping}) {
    SetCacheHold(hold);
    withoutMarker(std::string(1140, '\0'));
    expectBuiltIn("ten all-NUL records");
    for (const auto& d : damage) {
      std::string bad = good;
      bad[d.at] = d.byte;
      withoutMarker(bad);
      expectBuiltIn(d.what);
    }
    // A copy of a committed set in another directory (new inodes) still loads.
    withoutMarker(good);
    EXPECT_EQ(Load(), Loaded::A);
  }
  SetCacheHold(CacheHold::PrivateCopy);
}

// Every state a kill can leave among the renames of a commit.
TEST_F(CacheSetTest, TornSetsNeverLoadAsAMix) {
  Commit(storeA);
  // Keep set A's files (same inodes) to put back as a killed commit would
  // have left them.
  const char* names[] = {kCacheSetFile, kCacheMacFile, kCacheAddrFile, kCacheVersionFile};
  for (const char* n : names) fs::create_hard_link(Path(n), xdgDir + "/a" + n);
  Commit(storeB);
  auto restoreA = [&](const char* n) {
    fs::remove(Path(n));
    fs::create_hard_link(xdgDir + "/a" + n, Path(n));
  };
  EXPECT_EQ(Load(), Loaded::B);
  restoreA(kCacheVersionFile);  // killed before the version file's rename
  EXPECT_EQ(Load(), Loaded::B);
  EXPECT_EQ(g_strDbVersion, kVersionUnknown);
  restoreA(kCacheAddrFile);  // ... before the address text's
  EXPECT_EQ(Load(), Loaded::BuiltIn);
  restoreA(kCacheMacFile);  // ... right after the marker's
  EXPECT_EQ(Load(), Loaded::BuiltIn);
  restoreA(kCacheSetFile);  // ... before the marker's: the previous set
  EXPECT_EQ(Load(), Loaded::A);
  // Without a marker (a cache of an earlier version), the blocks' index
  // digits tell a table from another set's text.
  fs::remove(Path(kCacheSetFile));
  EXPECT_EQ(Load(), Loaded::A);
  fs::remove(Path(kCacheAddrFile));
  WriteFile(Path(kCacheAddrFile), std::string(storeB->addrList, storeB->addrLength));
  EXPECT_EQ(Load(), Loaded::BuiltIn);
}

// kill -9 at arbitrary instants of real updates: each next start finds one
// whole set.
TEST_F(CacheSetTest, KilledUpdatesLeaveOneWholeSet) {
  Commit(storeA);
  std::mt19937 random(12345);
  for (int round = 0; round < 16; ++round) {
    const pid_t pid = StartUpdate(round % 2 == 0 ? listingB : listingA);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
    kill(pid, SIGKILL);
    Wait(pid);
    const Loaded loaded = Load();
    EXPECT_NE(loaded, Loaded::Other) << round;
  }
  // The next update clears what the killed ones left and commits whole.
  Wait(StartUpdate(listingB));
  EXPECT_EQ(Load(), Loaded::B);
  for (const auto& entry : fs::directory_iterator(cacheDir)) {
    EXPECT_EQ(entry.path().filename().string().find(".new"), std::string::npos) << entry.path();
  }
}

// Several processes updating one directory while this one keeps starting:
// they take turns, so every start sees one whole set (never the built-in
// copy, never a mix), and what stays is the set of an update that completed,
// with the MA-L table of the same listing.
TEST_F(CacheSetTest, ConcurrentUpdatesAreSerialized) {
  Commit(storeA);
  std::vector<pid_t> updates;
  for (int i = 0; i < 4; ++i) updates.push_back(StartUpdate(i % 2 == 0 ? listingB : listingA));
  std::vector<int> status(updates.size(), -2);  // -2 while running
  for (int starts = 0; std::count(status.begin(), status.end(), -2) > 0; ++starts) {
    const Loaded loaded = Load();
    ASSERT_TRUE(loaded == Loaded::A || loaded == Loaded::B) << starts;
    for (size_t i = 0; i < updates.size(); ++i) {
      int st = 0;
      if (status[i] == -2 && waitpid(updates[i], &st, WNOHANG) == updates[i])
        status[i] = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
  }
  std::set<Loaded> completed;
  for (size_t i = 0; i < updates.size(); ++i) {
    EXPECT_TRUE(status[i] == 0 || status[i] == 1) << i;  // 1: the lock not had in time
    if (status[i] == 0) completed.insert(i % 2 == 0 ? Loaded::B : Loaded::A);
  }
  ASSERT_FALSE(completed.empty());  // the first to take the lock completes
  const Loaded last = Load();
  EXPECT_EQ(completed.count(last), 1u);
  // Set B wrote "USA" where A has "UNITED STATES".
  registry::ReloadSharedTables();
  const auto xerox = registry::SharedTables()->Lookup(0, true);
  ASSERT_TRUE(xerox);
  EXPECT_EQ(xerox->address.ends_with("USA"), last == Loaded::B) << xerox->address;
}

}  // namespace

// Whatever another program does to a cache file in place after the start
// (a copy over it, a truncation), the store answers from the bytes it
// checked: a private copy never changes, and a leased mapping makes such a
// writer wait (a non-blocking open for writing is refused meanwhile).
TEST_F(CacheSetTest, FilesChangedInPlaceLeaveTheStoreAsChecked) {
  Commit(storeA);
  for (CacheHold hold : {CacheHold::PrivateCopy, CacheHold::LeasedMapping}) {
    SetCacheHold(hold);
    ASSERT_EQ(Load(), Loaded::A);
    // A scan of every record, through the file or in memory, finds the
    // records of a prefix and no others.
    for (int32_t at : {0, 300, storeA->count - 1}) {
      char key[6];
      std::memcpy(key, storeA->macList + static_cast<size_t>(at) * kRecordSize, sizeof key);
      std::vector<int32_t> found, expected;
      for (int32_t i = 0; i < storeA->count; ++i) {
        if (std::memcmp(storeA->macList + static_cast<size_t>(i) * kRecordSize, key, 6) == 0) expected.push_back(i);
      }
      std::shared_lock lock(StoreLock());
      ForEachRecordWithKey(key, [&found](int32_t i) { found.push_back(i); });
      EXPECT_EQ(found, expected) << at;
    }
    const pid_t child = fork();
    if (child == 0) {
      const int fd = open(Path(kCacheMacFile).c_str(), O_WRONLY | O_NONBLOCK);
      _exit(fd < 0 && errno == EWOULDBLOCK ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), hold == CacheHold::LeasedMapping ? 1 : 0);
    if (hold == CacheHold::PrivateCopy) {
      WriteFile(Path(kCacheAddrFile), std::string(100, 'x'));  // in place, not by rename
      truncate(Path(kCacheMacFile).c_str(), 0);
      EXPECT_TRUE(Same(*storeA));
      Commit(storeA);
    }
  }
  SetCacheHold(CacheHold::PrivateCopy);
  ReleaseStore();
}
