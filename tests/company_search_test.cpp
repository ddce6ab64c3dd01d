// Company-name search: matching, paging in fives, the buttons' states and the
// guard on an over-long MAC result.
#include <cstring>
#include <vector>

#include "vessarine/store/store.h"
#include "vessarine/query/controls.h"
#include "tests/test_support.h"

namespace {

const char kTrailer[] = "\r\n当前5个结果，点击继续键查询后面的结果";

// The OUIs shown in a result, in order, as "00:00:00".
std::vector<std::string> ShownPrefixes(const std::string& result) {
  std::vector<std::string> prefixes;
  const std::string mark = "<Mac>\r\r\n";
  for (size_t p = result.find(mark); p != std::string::npos; p = result.find(mark, p + 1)) {
    prefixes.push_back(result.substr(p + mark.size(), 8));
  }
  return prefixes;
}

// The entry numbers shown, in order.
std::vector<int> ShownNumbers(const std::string& result) {
  std::vector<int> numbers;
  const std::string mark = "匹配";
  for (size_t p = result.find(mark); p != std::string::npos; p = result.find(mark, p + 1)) {
    numbers.push_back(std::atoi(result.c_str() + p + mark.size()));
  }
  return numbers;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i <= to; ++i) v.push_back(i);
  return v;
}

}  // namespace

class CompanySearchTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    StartUp();
  }
  QueryOutcome Search(const std::string& text) {
    g_strCompanyInput = text;
    return CompanyMatch(host);
  }
  bool ContinueOn() const { return host.IsEnabled(IDC_COMPANY_CONTINUE); }
  bool AllOn() const { return host.IsEnabled(IDC_COMPANY_ALL); }
  RecordingHost host;
};

TEST_F(CompanySearchTest, FirstEntryIsByteExact) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  Search("xerox");
  const std::string first =
      "\r\n匹配1\r\r\n<Mac>\r\r\n00:00:00:**:**:**\r\r\n<Company Info>\r\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n"
      "800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\nUNITED STATES\r\n\r\r\n\r\r\n匹配2\r\r\n";
  EXPECT_EQ(g_strCompanyResult.substr(0, first.size()), first);
  EXPECT_TRUE(g_strCompanyResult.ends_with(std::string("UNITED STATES\r\n\r\r\n\r\n") + kTrailer));
}

// The paging flow of "xerox" (14 matches), with the buttons after each step.
TEST_F(CompanySearchTest, XeroxPagesThroughFourteenMatches) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(Search("xerox"), QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(g_strCompanyResult), Range(1, 5));
  EXPECT_EQ(ShownPrefixes(g_strCompanyResult),
            (std::vector<std::string>{"00:00:00", "00:00:01", "00:00:02", "00:00:03", "00:00:04"}));
  EXPECT_TRUE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_TRUE(ContinueOn());
  EXPECT_TRUE(AllOn());

  EXPECT_EQ(CompanyContinue(host), QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(g_strCompanyResult), Range(6, 10));
  EXPECT_EQ(ShownPrefixes(g_strCompanyResult).front(), "00:00:05");
  EXPECT_EQ(ShownPrefixes(g_strCompanyResult).back(), "00:00:09");
  EXPECT_TRUE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_TRUE(ContinueOn());
  EXPECT_TRUE(AllOn());

  EXPECT_EQ(CompanyContinue(host), QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(g_strCompanyResult), Range(11, 14));
  EXPECT_EQ(ShownPrefixes(g_strCompanyResult),
            (std::vector<std::string>{"00:00:AA", "08:00:37", "08:00:72", "9C:93:4E"}));
  EXPECT_FALSE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_FALSE(ContinueOn());
  EXPECT_TRUE(AllOn());  // a continuation leaves 全部 as it was

  EXPECT_EQ(CompanyAll(host), QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(g_strCompanyResult), Range(1, 14));
  EXPECT_FALSE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_FALSE(ContinueOn());
  EXPECT_FALSE(AllOn());
}

TEST_F(CompanySearchTest, CaseOfLettersDoesNotMatter) {
  Search("xerox");
  CompanyAll(host);
  const std::string lower = g_strCompanyResult;
  for (const char* query : {"XEROX", "XeRoX"}) {
    Search(query);
    CompanyAll(host);
    EXPECT_EQ(g_strCompanyResult, lower) << query;
  }
}

TEST_F(CompanySearchTest, FewerThanAPage) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(Search("lenovo"), QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(g_strCompanyResult), Range(1, 3));
  EXPECT_FALSE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_FALSE(ContinueOn());
  EXPECT_FALSE(AllOn());
}

TEST_F(CompanySearchTest, ExactlyOnePageThenNothing) {
  // A store of exactly five matching names.
  std::string mac, addr;
  for (unsigned i = 0; i < 6; ++i) {
    mac += MakeRecord("00000" + std::to_string(i), i * 6, i < 5 ? "Five Ltd\n" : "Other\n");
    addr += "000" + std::to_string(i) + "X>";
  }
  PutStore(mac, addr);
  EXPECT_EQ(Search("five"), QueryOutcome::Results);
  EXPECT_TRUE(g_strCompanyResult.ends_with(kTrailer));
  EXPECT_TRUE(ContinueOn());
  EXPECT_EQ(CompanyContinue(host), QueryOutcome::Message);
  EXPECT_EQ(g_strCompanyResult, "没有找到匹配");
  EXPECT_FALSE(ContinueOn());
  EXPECT_TRUE(AllOn());
}

TEST_F(CompanySearchTest, OnlyNamesAreSearchedAndBlanksCount) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(Search("PHILLIPS"), QueryOutcome::Message);
  EXPECT_EQ(g_strCompanyResult, "没有找到匹配");
  EXPECT_EQ(Search("联想"), QueryOutcome::Message);
  EXPECT_EQ(g_strCompanyResult, "没有找到匹配");
  Search("cisco systems");
  CompanyAll(host);
  const std::string without = g_strCompanyResult;
  Search("cisco systems ");
  CompanyAll(host);
  EXPECT_NE(g_strCompanyResult, without);
  // The name's line feed takes part in the match.
  Search("corp.\n");
  CompanyAll(host);
  EXPECT_NE(g_strCompanyResult, "没有找到匹配");
}

TEST_F(CompanySearchTest, EmptyInputInEveryMode) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  const std::string request = "\r\n请输入公司英文名字的全部或部分信息";
  for (int mode = 0; mode < 3; ++mode) {
    Search("xerox");
    g_strCompanyInput.clear();
    EXPECT_EQ(CompanySearch(host, mode), QueryOutcome::Message) << mode;
    EXPECT_EQ(g_strCompanyResult, request) << mode;
    // Modes 0 and 2 reset the paging state; a continuation keeps it.
    EXPECT_EQ(g_nSearchPos, mode == 1 ? 5 : 0) << mode;
    EXPECT_EQ(g_nMatchCount, mode == 1 ? 5 : 0) << mode;
  }
}

// A continuation searches what the box holds now, from where the last page
// stopped, numbering on.
TEST_F(CompanySearchTest, ContinuationUsesTheCurrentText) {
  Search("xerox");
  g_strCompanyInput = "cisco";
  CompanyContinue(host);
  std::vector<int> numbers = ShownNumbers(g_strCompanyResult);
  ASSERT_EQ(numbers.size(), 5u);
  EXPECT_EQ(numbers.front(), 6);
}

TEST_F(CompanySearchTest, ReplacedSmallerStoreEndsAContinuation) {
  Search("xerox");
  CompanyContinue(host);
  PutStore(MakeRecord("000000", 0, "XEROX\n"), "0000A>");
  EXPECT_EQ(CompanyContinue(host), QueryOutcome::Message);
  EXPECT_EQ(g_strCompanyResult, "没有找到匹配");
}

TEST_F(CompanySearchTest, LongMacResultIsClearedByANewSearchOnly) {
  const std::string notice = "\r\n缓存过大，影响其他操作性能\r\n清除缓存";
  g_strMacResult = std::string(5000, 'x');
  Search("xerox");
  EXPECT_EQ(g_strMacResult, std::string(5000, 'x'));

  g_strMacResult = std::string(5001, 'x');
  CompanyContinue(host);
  CompanyAll(host);
  EXPECT_EQ(g_strMacResult.size(), 5001u);
  Search("xerox");
  EXPECT_EQ(g_strMacResult, notice);
}

TEST(StrIStr, Matching) {
  const char* text = "Cisco Systems\n";
  EXPECT_EQ(StrIStr(text, "SYSTEMS"), text + 6);
  EXPECT_EQ(StrIStr(text, ""), nullptr);
  EXPECT_EQ(StrIStr(nullptr, "a"), nullptr);
  EXPECT_EQ(StrIStr("abc", "abcd"), nullptr);
  EXPECT_STREQ(StrIStr("ACME CORP.\n", "corp.\n"), "CORP.\n");
  // Only ASCII letters fold; other bytes compare as they are.
  EXPECT_EQ(StrIStr("\xC4\xE3", "\xE4\xE3"), nullptr);
  EXPECT_EQ(StrIStr("[", "{"), nullptr);
}
