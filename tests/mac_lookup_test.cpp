// MAC-prefix lookup and the full listing over the built-in copy.
#include <cstring>

#include "vessarine/store/store.h"
#include "vessarine/query/controls.h"
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
    // A paged company search in progress: any MAC query must end it.
    host.EnableControl(IDC_COMPANY_CONTINUE, true);
    host.EnableControl(IDC_COMPANY_ALL, true);
  }
  QueryOutcome Lookup(const std::string& input) {
    g_strMacInput = input;
    return MacLookup(host, 0);
  }
  void ExpectPagingOff() {
    EXPECT_FALSE(host.IsEnabled(IDC_COMPANY_CONTINUE));
    EXPECT_FALSE(host.IsEnabled(IDC_COMPANY_ALL));
    EXPECT_EQ(host.pushes, 1);
  }
  RecordingHost host;
};

TEST_F(MacLookupTest, InitialInputFindsXerox) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(MacLookup(host, 0), QueryOutcome::Results);
  EXPECT_EQ(g_strMacResult, kXerox);
  ExpectPagingOff();
}

// Three-byte and six-byte forms, either separator, either case.
TEST_F(MacLookupTest, AddressFormsGiveTheSameResult) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  for (const char* input : {"00:00:00", "00-00-00", "00-00-00-ff-ff-ff", "00-00-00-00-00-00"}) {
    EXPECT_EQ(Lookup(input), QueryOutcome::Results) << input;
    EXPECT_EQ(g_strMacResult, kXerox) << input;
  }
  Lookup("00:0d:d3");
  EXPECT_EQ(g_strMacResult.substr(0, 2), "\r\n");
  EXPECT_NE(g_strMacResult, kXerox);
  EXPECT_EQ(g_strMacResult.find("没有"), std::string::npos);
}

TEST_F(MacLookupTest, EveryRecordOfAPrefixInTableOrder) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  Lookup("00:01:c8");
  EXPECT_EQ(g_strMacResult,
            "\r\nTHOMAS CONRAD CORP.\r\n1908-R KRAMER LANE\r\nAUSTIN TX 78758\r\nUNITED STATES\r\n"
            "CONRAD CORP.\r\n\n");
  Lookup("08:00:30");
  std::string three;
  {
    std::shared_lock lock(StoreLock());
    const int first = listing2011::kTripleOuiFirst;
    for (int i = first; i <= first + 2; ++i) three += GetCompanyText(i);
  }
  std::string expected;
  ExpandLineBreaks(three, expected);
  EXPECT_EQ(g_strMacResult, expected);
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
    host.pushes = 0;
    EXPECT_EQ(Lookup(c.input), QueryOutcome::Message) << c.input;
    EXPECT_EQ(g_strMacResult, c.message) << c.input;
    EXPECT_EQ(host.pushes, 1) << c.input;
  }
  EXPECT_FALSE(host.IsEnabled(IDC_COMPANY_CONTINUE));
  EXPECT_FALSE(host.IsEnabled(IDC_COMPANY_ALL));
}

TEST_F(MacLookupTest, AbsentPrefixIsNoMatch) {
  EXPECT_EQ(Lookup("ab:cd:ef"), QueryOutcome::Message);
  EXPECT_EQ(g_strMacResult, "没有找到匹配");
}

TEST_F(MacLookupTest, FullListing) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  EXPECT_EQ(MacLookup(host, 1), QueryOutcome::Results);
  ExpectPagingOff();
  const std::string& listing = g_strMacResult;
  EXPECT_EQ(listing.rfind("\r\n00:00:00    XEROX CORPORATION\n\r\n00:00:01    XEROX CORPORATION\n", 0), 0u);
  EXPECT_EQ(CountOf(listing, "\r\n"), size_t{listing2011::kRecords});
  EXPECT_EQ(CountOf(listing, "\n"), 2 * size_t{listing2011::kRecords});
  EXPECT_TRUE(listing.ends_with("\r\nFC:FB:FB    Cisco Systems\n"));
  EXPECT_NE(listing.find("\r\n00:00:6C    PRIVATE\n"), std::string::npos);
}

TEST_F(MacLookupTest, ListingOfAnEmptyStoreIsEmpty) {
  ReleaseStore();
  g_strMacResult = "old";
  MacLookup(host, 1);
  EXPECT_EQ(g_strMacResult, "");
  Lookup("00:00:00");
  EXPECT_EQ(g_strMacResult, "没有找到匹配");
}
