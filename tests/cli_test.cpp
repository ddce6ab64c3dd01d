// The command-line front end as a user runs it: UTF-8 in and out, exit codes.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/test_support.h"

namespace {

struct CliRun {
  int status;
  std::string out;
};

}  // namespace

class CliTest : public CoreTest {
 protected:
  // Runs vessarine-cli with `args` (already shell-quoted) against the test's
  // cache directory.
  CliRun Cli(const std::string& args) {
    std::string command = "XDG_CACHE_HOME='" + xdgDir + "' " VESSARINE_CLI " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    CliRun run{-1, ""};
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
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
  CliRun first = Cli("company xerox");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(CountOf(first.out, "<Mac>"), 5u);
  EXPECT_TRUE(first.out.ends_with("当前5个结果，点击继续键查询后面的结果"));

  CliRun third = Cli("company xerox --page 3");
  EXPECT_EQ(third.status, 0);
  EXPECT_EQ(CountOf(third.out, "<Mac>"), 4u);
  EXPECT_NE(third.out.find("匹配14"), std::string::npos);

  // Continue is disabled after the last page: more presses change nothing.
  EXPECT_EQ(Cli("company xerox --page 9").out, third.out);
  CliRun all = Cli("company xerox --all");
  EXPECT_EQ(CountOf(all.out, "<Mac>"), 14u);
  // 全部 is disabled without a page cut: the result stays the new search's.
  EXPECT_EQ(Cli("company lenovo --all").out, Cli("company lenovo").out);

  CliRun none = Cli("company '联想'");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "没有找到匹配");
}

TEST_F(CliTest, InfoListingAndUsage) {
  CliRun info = Cli("info");
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out, "15199\nbuilt-in\n当前数据库版本为2011-7-1\n");
  CliRun list = Cli("list");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(CountOf(list.out, "\r\n"), 15199u);
  for (const char* bad : {"", "mac", "frobnicate", "company x --page 0", "company x --page", "list extra"}) {
    EXPECT_EQ(Cli(bad).status, 2) << bad;
  }
}
