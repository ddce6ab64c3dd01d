// Start-up loading: cache files first, the built-in copy otherwise, and
// damaged cache files treated as missing.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <mutex>

#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/query/queries.h"
#include "tests/test_support.h"

namespace {

// Ten records with blocks of 10 bytes each ("000iLINE>" plus one letter).
std::string TenRecords() {
  std::string mac;
  for (unsigned i = 0; i < 10; ++i) mac += MakeRecord("00000" + std::to_string(i), i * 10, "Vendor " + std::to_string(i) + "\n");
  return mac;
}
std::string TenBlocks() {
  std::string addr;
  for (int i = 0; i < 10; ++i) addr += "000" + std::to_string(i) + "LINE" + static_cast<char>('a' + i) + ">";
  return addr;
}

size_t AddrLength() {
  std::shared_lock lock(StoreLock());
  return std::strlen(companyAddrList);
}

}  // namespace

class Loader : public CoreTest {
 protected:
  std::string Path(const char* name) { return cacheDir + "/" + name; }
  void WriteTables(const std::string& mac, const std::string& addr) {
    WriteFile(Path(kCacheMacFile), mac);
    WriteFile(Path(kCacheAddrFile), addr);
  }
  void ExpectBuiltIn() {
    EXPECT_EQ(g_bCachePresent, 0);
    EXPECT_EQ(g_strDbVersion, kVersionBuiltin);
    if (kBuiltinIs2011) {
      EXPECT_EQ(companyCount, listing2011::kRecords);
      EXPECT_EQ(AddrLength(), listing2011::kAddrLength);
    }
  }
};

TEST_F(Loader, NoCacheFilesLoadsTheBuiltInCopy) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  StartUp();
  ExpectBuiltIn();
  EXPECT_EQ(g_strDbVersion, "当前数据库版本为2011-7-1");
  EXPECT_EQ(std::string(companyMacList, 32), "00000000000000XEROX CORPORATION\n");
  EXPECT_EQ(std::string(companyAddrList, 65),
            "0000M/S 105-50C>800 PHILLIPS ROAD>WEBSTER NY 14580>UNITED STATES>");
  // The last record and the end of the text, which the pieces join into.
  EXPECT_EQ(std::string(companyMacList + listing2011::kLastRecord * kRecordSize), "FCFBFB000f887eCisco Systems\n");
  EXPECT_STREQ(companyAddrList + 0xf887e, "3b5e80 West Tasman Dr.>SJCM/2>San Jose CA 95134>UNITED STATES>");
  // Piece 0 ends after the "H" of a "HONG KONG" line.
  EXPECT_EQ(std::string(companyAddrList + listing2011::kAddrPieceSize - 1, 9), "HONG KONG");
}

TEST_F(Loader, EitherTableFileAloneFallsBack) {
  WriteFile(Path(kCacheMacFile), TenRecords());
  WriteFile(Path(kCacheVersionFile), "当前数据库版本为2012-3-9");
  StartUp();
  ExpectBuiltIn();

  std::filesystem::remove(Path(kCacheMacFile));
  WriteFile(Path(kCacheAddrFile), TenBlocks());
  StartUp();
  ExpectBuiltIn();
}

TEST_F(Loader, CacheFilesWithVersionText) {
  WriteTables(TenRecords(), TenBlocks());
  WriteFile(Path(kCacheVersionFile), "当前数据库版本为2012-3-9");
  StartUp();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(companyCount, 10);
  EXPECT_EQ(g_strDbVersion, "当前数据库版本为2012-3-9");
  std::shared_lock lock(StoreLock());
  EXPECT_EQ(GetCompanyText(0), "Vendor 0\nLINEa\n");
  // The last company text ends where the file's bytes end.
  EXPECT_EQ(GetCompanyText(9), "Vendor 9\nLINEj\n");
}

TEST_F(Loader, VersionFileForms) {
  WriteTables(TenRecords(), TenBlocks());
  StartUp();
  EXPECT_EQ(g_strDbVersion, "无法获取当前数据库版本");

  WriteFile(Path(kCacheVersionFile), "");
  StartUp();
  EXPECT_EQ(g_strDbVersion, "");

  WriteFile(Path(kCacheVersionFile), std::string("abc\0def", 7));
  StartUp();
  EXPECT_EQ(g_strDbVersion, "abc");

  std::filesystem::remove(Path(kCacheVersionFile));
  std::filesystem::create_directory(Path(kCacheVersionFile));
  StartUp();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(g_strDbVersion, "无法获取当前数据库版本");
}

// The record count is the size divided by 114; an incomplete record is lost.
TEST_F(Loader, TableSizeDecidesTheCount) {
  WriteTables(TenRecords(), TenBlocks());
  StartUp();
  EXPECT_EQ(companyCount, 10);
  WriteTables(TenRecords() + "X", TenBlocks());
  StartUp();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(companyCount, 10);

  WriteTables("", "");
  StartUp();
  EXPECT_EQ(g_bCachePresent, 1);
  EXPECT_EQ(companyCount, 0);
  EXPECT_EQ(LookupMac("00:00:00").text, "没有找到匹配");
}

TEST_F(Loader, DirectoryInPlaceOfATableFileFallsBack) {
  WriteFile(Path(kCacheMacFile), TenRecords());
  std::filesystem::create_directory(Path(kCacheAddrFile));
  StartUp();
  ExpectBuiltIn();

  std::filesystem::remove(Path(kCacheAddrFile));
  std::filesystem::remove(Path(kCacheMacFile));
  std::filesystem::create_directory(Path(kCacheMacFile));
  WriteFile(Path(kCacheAddrFile), TenBlocks());
  StartUp();
  ExpectBuiltIn();
}

// Damaged tables never half-load: the built-in copy is used, nothing shown.
TEST_F(Loader, DamagedTablesCountAsMissing) {
  const std::string addr = TenBlocks();
  {
    SCOPED_TRACE("a record whose name field has no NUL");
    std::string mac = TenRecords();
    std::memset(&mac[3 * kRecordSize + kNameOffset], 'N', kNameFieldSize);
    WriteTables(mac, addr);
    StartUp();
    ExpectBuiltIn();
  }
  {
    SCOPED_TRACE("offsets that decrease");
    std::string mac = TenRecords();
    mac.replace(5 * kRecordSize + 6, 8, "00000005");
    WriteTables(mac, addr);
    StartUp();
    ExpectBuiltIn();
  }
  {
    SCOPED_TRACE("an offset past the address text");
    std::string mac = TenRecords();
    mac.replace(9 * kRecordSize + 6, 8, "00000fff");
    WriteTables(mac, addr);
    StartUp();
    ExpectBuiltIn();
  }
  {
    SCOPED_TRACE("a NUL inside the address text");
    std::string holed = addr;
    holed[40] = '\0';
    WriteTables(TenRecords(), holed);
    StartUp();
    ExpectBuiltIn();
  }
}

TEST_F(Loader, CacheDirectoryFollowsXdg) {
  EXPECT_EQ(CacheDir(), xdgDir + "/vessarine");
  EXPECT_EQ(CachePath(kCacheAddrFile), xdgDir + "/vessarine/~cmpyaddr~");
  setenv("XDG_CACHE_HOME", "", 1);
  std::string home = getenv("HOME") ? getenv("HOME") : "";
  EXPECT_EQ(CacheDir(), home + "/.cache/vessarine");
  unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(CacheDir(), home + "/.cache/vessarine");
}
