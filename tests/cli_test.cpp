// The command-line front end as a user runs it: UTF-8 in and out, exit codes,
// usage and help.
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace {

// Two registry entries as the listing writes them.
const char kTwoEntries[] =
    "00-00-0C   (hex)\t\tCisco Systems, Inc\n"
    "00000C     (base 16)\t\tCisco Systems, Inc\n"
    "\t\t\t\t170 West Tasman Drive\n"
    "\n"
    "00-50-56   (hex)\t\tVMware, Inc.\n"
    "005056     (base 16)\t\tVMware, Inc.\n"
    "\t\t\t\t3401 Hillview Avenue\n"
    "\n";

}  // namespace

class CliTest : public CoreTest {
 protected:
  CliRun Cli(const std::string& args) { return RunCli(xdgDir, args); }
};

TEST_F(CliTest, MacLookup) {
  CliRun r = Cli("mac 00:0c:29");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("\r\nVMware, Inc.\r\n", 0), 0u) << r.out;

  r = Cli("mac 00:0c");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("\r\n请输入正确的MAC地址：", 0), 0u);
  EXPECT_TRUE(r.out.ends_with("%02x的格式输入的"));

  r = Cli("mac ''");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\r\n请输入MAC地址");
}

TEST_F(CliTest, CompanyPaging) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  CliRun first = Cli("company xerox");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(CountOf(first.out, "<Mac>"), 5u);
  EXPECT_TRUE(first.out.ends_with("当前5个结果，点击继续键查询后面的结果"));

  CliRun third = Cli("company xerox --page 3");
  EXPECT_EQ(third.status, 0);
  EXPECT_EQ(CountOf(third.out, "<Mac>"), 4u);
  EXPECT_NE(third.out.find("匹配14"), std::string::npos);
  EXPECT_EQ(Cli("company xerox --page 003").out, third.out);

  // Continue is disabled after the last page: more presses change nothing,
  // however many are asked for.
  EXPECT_EQ(Cli("company xerox --page 9").out, third.out);
  EXPECT_EQ(Cli("company xerox --page 2147483647").out, third.out);
  CliRun all = Cli("company xerox --all");
  EXPECT_EQ(CountOf(all.out, "<Mac>"), 14u);
  // 全部 is disabled without a page cut: the result stays the new search's.
  EXPECT_EQ(Cli("company lenovo --all").out, Cli("company lenovo").out);

  CliRun none = Cli("company '联想'");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "没有找到匹配");
}

TEST_F(CliTest, InfoAndListingOfTheBuiltInCopy) {
  SKIP_UNLESS_BUILTIN_IS_2011();
  CliRun info = Cli("info");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out, std::to_string(listing2011::kRecords) + "\nbuilt-in\n当前数据库版本为2011-7-1\n");
  CliRun list = Cli("list");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(CountOf(list.out, "\r\n"), size_t{listing2011::kRecords});
}

// Help on any level goes to stdout with status 0; --version names the
// database the program would load.
TEST_F(CliTest, HelpAndVersion) {
  CliRun help = Cli("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* command : {"mac", "list", "company", "info", "update"}) {
    SCOPED_TRACE(command);
    EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos);
    CliRun own = Cli(std::string(command) + " --help");
    EXPECT_EQ(own.status, 0);
    EXPECT_NE(own.out.find(std::string("Usage: vessarine-cli ") + command), std::string::npos);
    EXPECT_EQ(own.err, "");
  }

  CliRun version = Cli("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vessarine-cli 1.3\n", 0), 0u) << version.out;
  EXPECT_NE(version.out.find(" records, built-in, 当前数据库版本为2011-7-1"), std::string::npos) << version.out;
}

// Every usage error: status 2, nothing on stdout, the message and the usage
// of the command concerned on stderr.
TEST_F(CliTest, UsageErrors) {
  const struct {
    const char* args;
    const char* usage;
  } cases[] = {
      {"", "Usage: vessarine-cli [OPTIONS] SUBCOMMAND"},
      {"frobnicate", "Usage: vessarine-cli [OPTIONS] SUBCOMMAND"},
      {"--bogus", "Usage: vessarine-cli [OPTIONS] SUBCOMMAND"},
      {"mac", "Usage: vessarine-cli mac"},
      {"mac 00:00:00 00:00:01", "Usage: vessarine-cli mac"},
      {"list extra", "Usage: vessarine-cli list"},
      {"info --all", "Usage: vessarine-cli info"},
      {"company", "Usage: vessarine-cli company"},
      {"company x --page", "Usage: vessarine-cli company"},
      {"company x --page 0", "Usage: vessarine-cli company"},
      {"company x --page ' 3'", "Usage: vessarine-cli company"},
      {"company x --page '3 '", "Usage: vessarine-cli company"},
      {"company x --page +3", "Usage: vessarine-cli company"},
      {"company x --page -3", "Usage: vessarine-cli company"},
      {"company x --page 3x", "Usage: vessarine-cli company"},
      {"company x --page 2147483648", "Usage: vessarine-cli company"},
      {"company x --page 9999999999999999999999", "Usage: vessarine-cli company"},
      {"company x --page 2 --all", "Usage: vessarine-cli company"},
      {"update --url ''", "Usage: vessarine-cli update"},
      {"update --from a --from b", "Usage: vessarine-cli update"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    CliRun r = Cli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vessarine-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.usage), std::string::npos) << r.err;
  }
  EXPECT_NE(Cli("frobnicate").err.find("unknown command 'frobnicate'"), std::string::npos);
}

// A folder given to update --from stands for the listings it holds, as
// Debian's /usr/share/ieee-data does; a folder without any changes nothing.
TEST_F(CliTest, UpdateFromAFolder) {
  const std::string folder = xdgDir + "/ieee-data";
  std::filesystem::create_directories(folder);
  CliRun r = Cli("update --from '" + folder + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(Cli("info").out.find("\nbuilt-in\n"), std::string::npos);

  WriteFile(folder + "/oui.txt", kTwoEntries);
  r = Cli("update --from '" + folder + "'");
  // Two entries are far fewer than the database holds: the database and the
  // MA-L table alike keep what they had, and say so.
  EXPECT_EQ(r.out, "下载完成，进行数据库更新\n数据库更新失败\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("MA-L: kept the previous table: " + folder + "/oui.txt refused: 2 entries, far fewer than the"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--force takes it"), std::string::npos) << r.err;
  EXPECT_NE(Cli("info").out.find("\nbuilt-in\n"), std::string::npos);
  // On purpose, both take it.
  r = Cli("update --force --from '" + folder + "'");
  EXPECT_EQ(r.out, "下载完成，进行数据库更新\n完成更新\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Cli("info").out.rfind("2\ncache\n", 0), 0u);
  EXPECT_EQ(Cli("mac 00-50-56").out, "\r\nVMware, Inc.\r\n3401 Hillview Avenue\n");
  EXPECT_NE(Cli("lookup 00:50:56:00:00:01").out.find("VMware, Inc."), std::string::npos);
  EXPECT_EQ(ReadFile(folder + "/oui.txt"), kTwoEntries);
}
