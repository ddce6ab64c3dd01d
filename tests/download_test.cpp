// The listing download against a loopback server: what is asked, which
// answers count, what lands in the file, and that nothing hangs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vessarine/db/loader.h"
#include "tests/loopback_http.h"
#include "tests/test_support.h"
#include "vessarine/update/update.h"

namespace fs = std::filesystem;

namespace {

// Every byte value, CR LF pairs included, over many reads.
std::string BinaryBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return body;
}

class DownloadTest : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    target = xdgDir + "/vessarine~";
    SetDownloadStallSeconds(60);
  }
  void TearDown() override {
    SetDownloadStallSeconds(60);
    CacheHomeTest::TearDown();
  }

  std::string target;
  LoopbackHttp http;
};

TEST(ListingUrlTest, AsksTheRegistryWithTheTimeAsQuery) {
  EXPECT_EQ(ListingUrl(1700000000), "http://standards-oui.ieee.org/oui/oui.txt?aa=1700000000");
  EXPECT_NE(ListingUrl(1700000000), ListingUrl(1700000001));
  // Past 2038 the number keeps growing rather than wrapping.
  EXPECT_EQ(ListingUrl(4102444800), "http://standards-oui.ieee.org/oui/oui.txt?aa=4102444800");
}

TEST_F(DownloadTest, SendsAPlainHttp10GetWithACurlStyleAgent) {
  http.Serve("/oui/oui.txt", 200, "listing");
  ASSERT_TRUE(DownloadListing(http.Url("/oui/oui.txt?aa=1700000000"), target));
  const auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& req = requests[0];
  EXPECT_EQ(req.method, "GET");
  EXPECT_EQ(req.version, "HTTP/1.0");
  EXPECT_EQ(req.target, "/oui/oui.txt?aa=1700000000");
  EXPECT_EQ(req.userAgent.rfind("Vessarine/1.3 curl/", 0), 0u) << req.userAgent;
  EXPECT_GT(req.userAgent.size(), std::string("Vessarine/1.3 curl/").size());
  // Nothing but what any HTTP client sends (httplib adds the address entries).
  const std::set<std::string> allowed = {"Host", "User-Agent", "Accept", "REMOTE_ADDR",
                                         "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"};
  for (const auto& [name, value] : req.headers) EXPECT_TRUE(allowed.count(name)) << name;
}

TEST_F(DownloadTest, CopiesABodyOfManyReadsByteForByte) {
  const std::string body = BinaryBody(37 * 10240 + 123);
  http.Serve("/big", 200, body, 10240);
  http.Serve("/odd", 200, body, 4099);
  ASSERT_TRUE(DownloadListing(http.Url("/big"), target));
  EXPECT_EQ(ReadFile(target), body);
  ASSERT_TRUE(DownloadListing(http.Url("/odd"), target + "2"));
  EXPECT_EQ(ReadFile(target + "2"), body);
}

// The file is created exclusively: a file or a link planted at its name is
// never written into or through.
TEST_F(DownloadTest, NeverWritesThroughWhatIsAlreadyThere) {
  http.Serve("/ok", 200, "listing");
  const std::string victim = xdgDir + "/victim";
  WriteFile(victim, "precious");
  fs::create_symlink(victim, target);
  EXPECT_FALSE(DownloadListing(http.Url("/ok"), target));
  EXPECT_EQ(ReadFile(victim), "precious");
}

TEST_F(DownloadTest, EmptyStatus200BodyGivesAnEmptyFile) {
  http.Serve("/empty", 200, "");
  ASSERT_TRUE(DownloadListing(http.Url("/empty"), target));
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(DownloadTest, AnyOtherFinalStatusFailsAndLeavesTheEarlierFile) {
  for (int status : {404, 206, 418, 500, 204}) {
    SCOPED_TRACE(status);
    const std::string path = "/s" + std::to_string(status);
    http.Serve(path, status, status == 204 ? "" : "not the listing");
    WriteFile(target, "earlier listing");
    EXPECT_FALSE(DownloadListing(http.Url(path), target));
    EXPECT_EQ(ReadFile(target), "earlier listing");
  }
  // No earlier file: none is created.
  fs::remove(target);
  EXPECT_FALSE(DownloadListing(http.Url("/s404"), target));
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(DownloadTest, FollowsUpToFiveRedirects) {
  http.Serve("/final", 200, "the listing");
  // /r5 -> /r4 -> ... -> /r1 -> /final: r<n> is n hops away from the answer.
  http.Redirect("/r1", http.Url("/final"), 301);
  http.Redirect("/r2", "/r1", 302);
  http.Redirect("/r3", "/r2", 303);
  http.Redirect("/r4", "/r3", 307);
  http.Redirect("/r5", "/r4", 308);
  http.Redirect("/r6", "/r5", 302);
  ASSERT_TRUE(DownloadListing(http.Url("/r2"), target));
  EXPECT_EQ(ReadFile(target), "the listing");
  ASSERT_TRUE(DownloadListing(http.Url("/r5"), target + "2"));
  EXPECT_EQ(ReadFile(target + "2"), "the listing");

  WriteFile(target, "earlier listing");
  EXPECT_FALSE(DownloadListing(http.Url("/r6"), target));
  EXPECT_EQ(ReadFile(target), "earlier listing");

  // A chain that ends in something other than 200 fails too.
  http.Redirect("/to404", "/nowhere", 302);
  EXPECT_FALSE(DownloadListing(http.Url("/to404"), target));
  EXPECT_EQ(ReadFile(target), "earlier listing");
}

TEST_F(DownloadTest, AServerThatStopsSendingEndsTheFetch) {
  SetDownloadStallSeconds(1);
  http.StallAfter("/midway", 5000, 100000);
  http.StallBeforeHeaders("/silent");

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadListing(http.Url("/midway"), target));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  // What came before the stall stays in the file.
  EXPECT_EQ(ReadFile(target), std::string(5000, 'x'));

  WriteFile(target, "earlier listing");
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadListing(http.Url("/silent"), target));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(ReadFile(target), "earlier listing");
}

TEST_F(DownloadTest, NoServerOrNoFileFailsAtOnce) {
  // A port nobody listens on.
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(sock);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadListing("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x",
                               target));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(fs::exists(target));

  http.Serve("/ok", 200, "listing");
  EXPECT_FALSE(DownloadListing(http.Url("/ok"), xdgDir + "/missing/vessarine~"));
  EXPECT_FALSE(DownloadListing("not a url", target));
}

TEST_F(DownloadTest, DownloadThreadReportsThroughItsFlags) {
  http.StallBeforeHeaders("/slow");
  g_bDownloadOk.store(0);
  const std::string path = NewListingPath();
  std::thread thread = LaunchDownloadThread(http.Url("/slow"), path);
  // Raised before the thread runs, so a watcher can never miss the download.
  EXPECT_EQ(g_bDownloading.load(), 1);
  http.ReleaseStalls();
  thread.join();
  EXPECT_EQ(g_bDownloading.load(), 0);
  EXPECT_EQ(g_bDownloadOk.load(), 1);
  // The listing lies in the cache directory, which the thread creates.
  EXPECT_EQ(path.rfind(CachePath(kListingTempFile), 0), 0u);
  EXPECT_EQ(ReadFile(path), "late");

  http.Serve("/gone", 404, "no");
  const std::string other = NewListingPath();
  EXPECT_NE(other, path);
  LaunchDownloadThread(http.Url("/gone"), other).join();
  EXPECT_EQ(g_bDownloading.load(), 0);
  EXPECT_EQ(g_bDownloadOk.load(), 0);
  EXPECT_FALSE(fs::exists(other));
}

// A lookup must never load libcurl: the programs have no link to it, direct
// or indirect; it is loaded only when a download starts.
std::string Ldd(const std::string& program) {
  FILE* pipe = popen(("ldd '" + program + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  if (pclose(pipe) != 0) out += "\nldd failed";
  return out;
}

TEST(CurlLinkTest, ProgramsDoNotLinkLibcurl) {
  std::vector<std::string> programs = {VESSARINE_CLI};
#ifdef VESSARINE_APP
  programs.push_back(VESSARINE_APP);
#endif
  for (const auto& program : programs) {
    SCOPED_TRACE(program);
    const std::string out = Ldd(program);
    EXPECT_NE(out.find("libc.so"), std::string::npos) << out;
    EXPECT_EQ(out.find("libcurl"), std::string::npos) << out;
  }
}

}  // namespace
