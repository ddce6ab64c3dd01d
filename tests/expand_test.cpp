// The line-break rebuild of a result text, quirks included.
#include <string>

#include "vessarine/query/queries.h"
#include "tests/test_support.h"

namespace {

std::string Expand(const std::string& text, const char* trailer = nullptr) {
  std::string target = "previous contents";
  ExpandLineBreaks(text, target, trailer);
  return target;
}

struct Case {
  const char* name;
  std::string text;
  std::string expected;
};

}  // namespace

TEST(ExpandLineBreaks, ScanQuirks) {
  const Case cases[] = {
      {"empty", "", "\r\n"},
      {"no line feed", "AB", "\r\nAB"},
      {"one byte is not scanned", "A", "\r\nA"},
      {"lone line feed", "\n", "\r\n\n"},
      {"leading line feed is cut", "\nA", "\r\n\r\nA"},
      {"two leading line feeds", "\n\n", "\r\n\r\n\n"},
      {"trailing line feed stays", "A\n", "\r\nA\n"},
      {"line feed after a cut stays", "A\n\nB\n", "\r\nA\r\n\nB\n"},
      {"three in a row", "A\n\n\nB", "\r\nA\r\n\n\r\nB"},
      {"CR LF keeps its CR", "A\r\nB\r\n", "\r\nA\r\r\nB\r\n"},
      {"entry end before more text", "X\n\r\n\r\nY", "\r\nX\r\n\r\r\n\r\r\nY"},
      {"entry end at the end", "X\n\r\n\r\n", "\r\nX\r\n\r\r\n\r\n"},
      {"GBK passes unchanged", "匹配\n联想\n", "\r\n匹配\r\n联想\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Expand(c.text), c.expected) << c.name;
  }
}

TEST(ExpandLineBreaks, QueryTexts) {
  EXPECT_EQ(Expand("XEROX CORPORATION\nM/S 105-50C\n800 PHILLIPS ROAD\nWEBSTER NY 14580\nUNITED STATES\n"),
            "\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\nUNITED STATES\n");
  EXPECT_EQ(Expand("SAMWOO Telecommunication Co.,Ltd.\n\n171, Dangjung-Dong,\nGunpo Kyoung-Gi 435-831\nKOREA, REPUBLIC OF\n"),
            "\r\nSAMWOO Telecommunication Co.,Ltd.\r\n\n171, Dangjung-Dong,\r\nGunpo Kyoung-Gi 435-831\r\nKOREA, REPUBLIC OF\n");
  const std::string entry =
      "匹配1\r\n<Mac>\r\n00:00:00:**:**:**\r\n<Company Info>\r\nXEROX CORPORATION\nM/S 105-50C\n"
      "800 PHILLIPS ROAD\nWEBSTER NY 14580\nUNITED STATES\n\r\n\r\n";
  const std::string expanded =
      "\r\n匹配1\r\r\n<Mac>\r\r\n00:00:00:**:**:**\r\r\n<Company Info>\r\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n"
      "800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\nUNITED STATES\r\n\r\r\n\r\n";
  EXPECT_EQ(Expand(entry), expanded);
  EXPECT_EQ(Expand(entry, "当前5个结果，点击继续键查询后面的结果"),
            expanded + "\r\n当前5个结果，点击继续键查询后面的结果");
}

// The work text is a C string: a NUL ends it.
TEST(ExpandLineBreaks, StopsAtNul) {
  EXPECT_EQ(Expand(std::string("A\nB\0C\nD", 7)), "\r\nA\r\nB");
}
