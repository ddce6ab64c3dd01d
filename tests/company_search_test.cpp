// Company-name search: matching, numbering and paging in fives.
#include <cstring>
#include <vector>

#include "vessarine/store/store.h"
#include "vessarine/query/queries.h"
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
};

TEST_F(CompanySearchTest, FirstEntryIsByteExact) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  const std::string result = SearchCompanies("xerox", {}, false).answer.text;
  const std::string first =
      "\r\n匹配1\r\r\n<Mac>\r\r\n00:00:00:**:**:**\r\r\n<Company Info>\r\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n"
      "800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\nUNITED STATES\r\n\r\r\n\r\r\n匹配2\r\r\n";
  EXPECT_EQ(result.substr(0, first.size()), first);
  EXPECT_TRUE(result.ends_with(std::string("UNITED STATES\r\n\r\r\n\r\n") + kTrailer));
}

// "xerox" (14 matches) page by page, each continuing from the last page's
// cursor, then all at once.
TEST_F(CompanySearchTest, XeroxPagesThroughFourteenMatches) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  CompanyPage page = SearchCompanies("xerox", {}, false);
  EXPECT_EQ(page.answer.outcome, QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(page.answer.text), Range(1, 5));
  EXPECT_EQ(ShownPrefixes(page.answer.text),
            (std::vector<std::string>{"00:00:00", "00:00:01", "00:00:02", "00:00:03", "00:00:04"}));
  EXPECT_TRUE(page.answer.text.ends_with(kTrailer));
  EXPECT_TRUE(page.more);

  page = SearchCompanies("xerox", page.next, false);
  EXPECT_EQ(ShownNumbers(page.answer.text), Range(6, 10));
  EXPECT_EQ(ShownPrefixes(page.answer.text).front(), "00:00:05");
  EXPECT_EQ(ShownPrefixes(page.answer.text).back(), "00:00:09");
  EXPECT_TRUE(page.answer.text.ends_with(kTrailer));
  EXPECT_TRUE(page.more);

  page = SearchCompanies("xerox", page.next, false);
  EXPECT_EQ(page.answer.outcome, QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(page.answer.text), Range(11, 14));
  EXPECT_EQ(ShownPrefixes(page.answer.text),
            (std::vector<std::string>{"00:00:AA", "08:00:37", "08:00:72", "9C:93:4E"}));
  EXPECT_FALSE(page.answer.text.ends_with(kTrailer));
  EXPECT_FALSE(page.more);

  page = SearchCompanies("xerox", {}, true);
  EXPECT_EQ(ShownNumbers(page.answer.text), Range(1, 14));
  EXPECT_FALSE(page.answer.text.ends_with(kTrailer));
  EXPECT_FALSE(page.more);
}

TEST_F(CompanySearchTest, CaseOfLettersDoesNotMatter) {
  const std::string lower = SearchCompanies("xerox", {}, true).answer.text;
  for (const char* query : {"XEROX", "XeRoX"}) {
    EXPECT_EQ(SearchCompanies(query, {}, true).answer.text, lower) << query;
  }
}

TEST_F(CompanySearchTest, FewerThanAPage) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  const CompanyPage page = SearchCompanies("lenovo", {}, false);
  EXPECT_EQ(page.answer.outcome, QueryOutcome::Results);
  EXPECT_EQ(ShownNumbers(page.answer.text), Range(1, 3));
  EXPECT_FALSE(page.answer.text.ends_with(kTrailer));
  EXPECT_FALSE(page.more);
}

TEST_F(CompanySearchTest, ExactlyOnePageThenNothing) {
  // A store of exactly five matching names.
  std::string mac, addr;
  for (unsigned i = 0; i < 6; ++i) {
    mac += MakeRecord("00000" + std::to_string(i), i * 6, i < 5 ? "Five Ltd\n" : "Other\n");
    addr += "000" + std::to_string(i) + "X>";
  }
  PutStore(mac, addr);
  const CompanyPage first = SearchCompanies("five", {}, false);
  EXPECT_TRUE(first.answer.text.ends_with(kTrailer));
  EXPECT_TRUE(first.more);
  const CompanyPage next = SearchCompanies("five", first.next, false);
  EXPECT_EQ(next.answer.outcome, QueryOutcome::Message);
  EXPECT_EQ(next.answer.text, "没有找到匹配");
  EXPECT_FALSE(next.more);
}

TEST_F(CompanySearchTest, OnlyNamesAreSearchedAndBlanksCount) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  auto all = [](const char* text) { return SearchCompanies(text, {}, true).answer.text; };
  EXPECT_EQ(all("PHILLIPS"), "没有找到匹配");
  EXPECT_EQ(all("联想"), "没有找到匹配");
  EXPECT_NE(all("cisco systems "), all("cisco systems"));
  // The name's line feed takes part in the match.
  EXPECT_NE(all("corp.\n"), "没有找到匹配");
}

// An empty text asks for one and leaves the search where it stood, so a
// later continuation still resumes there.
TEST_F(CompanySearchTest, EmptyTextKeepsTheCursor) {
  const std::string request = "\r\n请输入公司英文名字的全部或部分信息";
  for (const bool all : {false, true}) {
    const CompanyPage page = SearchCompanies("", {5, 5}, all);
    EXPECT_EQ(page.answer.outcome, QueryOutcome::Message);
    EXPECT_EQ(page.answer.text, request);
    EXPECT_EQ(page.next.position, 5);
    EXPECT_EQ(page.next.matches, 5);
    EXPECT_FALSE(page.more);
  }
}

// A continuation searches the text it is given now, from where the last page
// stopped, numbering on.
TEST_F(CompanySearchTest, ContinuationUsesTheCurrentText) {
  const CompanyPage xerox = SearchCompanies("xerox", {}, false);
  std::vector<int> numbers = ShownNumbers(SearchCompanies("cisco", xerox.next, false).answer.text);
  ASSERT_EQ(numbers.size(), 5u);
  EXPECT_EQ(numbers.front(), 6);
}

TEST_F(CompanySearchTest, NegativeCursorStartsOver) {
  const std::string fresh = SearchCompanies("xerox", {}, false).answer.text;
  for (const SearchCursor from : {SearchCursor{-5, 5}, SearchCursor{5, -1}}) {
    const CompanyPage page = SearchCompanies("xerox", from, false);
    EXPECT_EQ(page.answer.text, fresh) << from.position << "," << from.matches;
    EXPECT_EQ(page.next.matches, 5);
  }
}

TEST_F(CompanySearchTest, ReplacedSmallerStoreEndsAContinuation) {
  const CompanyPage second = SearchCompanies("xerox", SearchCompanies("xerox", {}, false).next, false);
  PutStore(MakeRecord("000000", 0, "XEROX\n"), "0000A>");
  const CompanyPage third = SearchCompanies("xerox", second.next, false);
  EXPECT_EQ(third.answer.outcome, QueryOutcome::Message);
  EXPECT_EQ(third.answer.text, "没有找到匹配");
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
