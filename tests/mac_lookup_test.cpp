// MAC-prefix lookup and the full listing over the built-in copy.
#include <cstring>

#include "vessarine/store/store.h"
#include "vessarine/query/queries.h"
#include "tests/test_support.h"

namespace {

const char kXerox[] =
    "\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\nUNITED STATES\n";
const char kBadMac[] =
    "\r\n请输入正确的MAC地址：\r\n\r\n输入全部6个字节或者前3个字节\r\n字节与字节之间用':'或'-'隔开\r\n\r\n"
    "注意：每个字节都是按照%02x的格式输入的";
const char kMixed[] = "\r\n请输入正确的MAC地址：\r\n\r\n分隔符':'和'-'不得混合使用";

}  // namespace

class MacLookupTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    StartUp();
  }
};

// Three-byte and six-byte forms, either separator, either case.
TEST_F(MacLookupTest, AddressFormsGiveTheSameResult) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  for (const char* input :
       {"00:00:00:00:00:00", "00:00:00", "00-00-00", "00-00-00-ff-ff-ff", "00-00-00-00-00-00"}) {
    const QueryAnswer answer = LookupMac(input);
    EXPECT_EQ(answer.outcome, QueryOutcome::Results) << input;
    EXPECT_EQ(answer.text, kXerox) << input;
  }
  const std::string lower = LookupMac("00:0d:d3").text;
  EXPECT_EQ(lower.substr(0, 2), "\r\n");
  EXPECT_NE(lower, kXerox);
  EXPECT_EQ(lower.find("没有"), std::string::npos);
}

TEST_F(MacLookupTest, EveryRecordOfAPrefixInTableOrder) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(LookupMac("00:01:c8").text,
            "\r\nTHOMAS CONRAD CORP.\r\n1908-R KRAMER LANE\r\nAUSTIN TX 78758\r\nUNITED STATES\r\n"
            "CONRAD CORP.\r\n\n");
  std::string three;
  {
    std::shared_lock lock(StoreLock());
    const int first = listing2011::kTripleOuiFirst;
    for (int i = first; i <= first + 2; ++i) three += GetCompanyText(i);
  }
  std::string expected;
  ExpandLineBreaks(three, expected);
  EXPECT_EQ(LookupMac("08:00:30").text, expected);
}

TEST_F(MacLookupTest, ValidationMessages) {
  struct {
    const char* input;
    const char* message;
  } const cases[] = {
      {"", "\r\n请输入MAC地址"},
      {"000000", kBadMac},
      {"00:00:00:00:00", kBadMac},
      {" 00:00:00", kBadMac},
      {"00:00:00:00:00:00 ", kBadMac},
      {"00.00.00", kBadMac},
      {"00:0g:00", kBadMac},
      {"00:00:00:zz:zz:zz", kBadMac},
      {"联想网络", kBadMac},  // 8 bytes of GBK: no hex digits
      {"00:00-00", kMixed},
      {"00:00:00-00:00:00", kMixed},
  };
  for (const auto& c : cases) {
    const QueryAnswer answer = LookupMac(c.input);
    EXPECT_EQ(answer.outcome, QueryOutcome::Message) << c.input;
    EXPECT_EQ(answer.text, c.message) << c.input;
  }
}

TEST_F(MacLookupTest, AbsentPrefixIsNoMatch) {
  const QueryAnswer answer = LookupMac("ab:cd:ef");
  EXPECT_EQ(answer.outcome, QueryOutcome::Message);
  EXPECT_EQ(answer.text, "没有找到匹配");
}

TEST_F(MacLookupTest, FullListing) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  const QueryAnswer answer = ListMacs();
  EXPECT_EQ(answer.outcome, QueryOutcome::Results);
  const std::string& listing = answer.text;
  EXPECT_EQ(listing.rfind("\r\n00:00:00    XEROX CORPORATION\n\r\n00:00:01    XEROX CORPORATION\n", 0), 0u);
  EXPECT_EQ(CountOf(listing, "\r\n"), size_t{listing2011::kRecords});
  EXPECT_EQ(CountOf(listing, "\n"), 2 * size_t{listing2011::kRecords});
  EXPECT_TRUE(listing.ends_with("\r\nFC:FB:FB    Cisco Systems\n"));
  EXPECT_NE(listing.find("\r\n00:00:6C    PRIVATE\n"), std::string::npos);
}

TEST_F(MacLookupTest, ListingOfAnEmptyStoreIsEmpty) {
  ReleaseStore();
  EXPECT_EQ(ListMacs().text, "");
  EXPECT_EQ(LookupMac("00:00:00").text, "没有找到匹配");
}
