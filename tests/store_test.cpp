// The record store: hexadecimal offsets and the company text of a record.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vessarine/store/store.h"
#include "tests/test_support.h"

// HexToInt reads either case and counts any other byte as a zero digit.
TEST(HexToInt, DecodesBothCasesAndZeroesStrayBytes) {
  EXPECT_EQ(HexToInt("00001c1b", 8), 7195);
  EXPECT_EQ(HexToInt("00001C1B", 8), 7195);
  EXPECT_EQ(HexToInt("0000 01g", 8), 16);
  EXPECT_EQ(HexToInt("ffffffff", 8), -1);
  EXPECT_EQ(HexToInt("whatever", 0), 0);
  // Past eight digits the high ones are shifted out.
  EXPECT_EQ(HexToInt("1000000002", 10), 2);
}

class CompanyText : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    SKIP_UNLESS_BUILTIN_IS_2011();
    StartUp();
  }
};

// Rows of the built-in copy with known company texts.
TEST_F(CompanyText, BuiltInRows) {
  std::shared_lock lock(StoreLock());
  std::string first = GetCompanyText(0);
  EXPECT_EQ(first, "XEROX CORPORATION\nM/S 105-50C\n800 PHILLIPS ROAD\nWEBSTER NY 14580\nUNITED STATES\n");
  EXPECT_EQ(first.size(), 79u);
  EXPECT_EQ(GetCompanyText(108), "PRIVATE\nPRIVATE\n");
  EXPECT_EQ(GetCompanyText(457), "CONRAD CORP.\n\n");
  // The last block ends at the end of the text; its index digits "3b5e" are
  // dropped and the street number 80 stays.
  EXPECT_EQ(GetCompanyText(companyCount - 1),
            "Cisco Systems\n80 West Tasman Dr.\nSJCM/2\nSan Jose CA 95134\nUNITED STATES\n");
  EXPECT_EQ(GetCompanyText(listing2011::kLongestTextRecord).size(), listing2011::kLongestTextBytes);
  EXPECT_EQ(std::memcmp(companyMacList + listing2011::kLongestTextRecord * kRecordSize, "886B76", 6), 0);
}

TEST_F(CompanyText, SharedPrefixRecordsKeepTheirOwnTexts) {
  std::shared_lock lock(StoreLock());
  const int first = listing2011::kTripleOuiFirst;
  for (int i = first; i <= first + 2; ++i) {
    EXPECT_EQ(std::memcmp(companyMacList + i * kRecordSize, "080030", 6), 0) << i;
  }
  std::string a = GetCompanyText(first), b = GetCompanyText(first + 1), c = GetCompanyText(first + 2);
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_NE(a, c);
}

// A company text is returned whole, however long: no 500-byte buffer limit.
TEST(CompanyTextLength, LongTextIsNeverCut) {
  std::string block = "0000" + std::string(300, 'A') + ">" + std::string(300, 'B') + ">";
  PutStore(MakeRecord("ABCDEF", 0, "Long Address Ltd\n"), block);
  std::string text;
  {
    std::shared_lock lock(StoreLock());
    text = GetCompanyText(0);
  }
  EXPECT_EQ(text, "Long Address Ltd\n" + std::string(300, 'A') + "\n" + std::string(300, 'B') + "\n");
  ReleaseStore();
  EXPECT_EQ(companyMacList, nullptr);
  EXPECT_EQ(companyCount, 0);
}

// The store gives the same text whether its lines end in '>' or in line feeds.
TEST(CompanyTextLength, BothLineEndFormsGiveTheSameText) {
  for (const char* block : {"0000M/S 1>ROAD>", "0000M/S 1\nROAD\n"}) {
    PutStore(MakeRecord("000000", 0, "X\n"), block);
    std::shared_lock lock(StoreLock());
    EXPECT_EQ(GetCompanyText(0), "X\nM/S 1\nROAD\n");
  }
  ReleaseStore();
}
