// The listing download against a loopback server: what is asked, which
// answers count, what lands in the file, and that nothing hangs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vessarine/db/loader.h"
#include "tests/loopback_http.h"
#include "tests/test_support.h"
#include "vessarine/listing/listing.h"
#include "vessarine/update/download.h"
#include "vessarine/update/update.h"

namespace fs = std::filesystem;

namespace {

// Every byte value, CR LF pairs included, over many reads.
std::string BinaryBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return body;
}

// `data` as a gzip stream (windowBits 31) or a zlib one, what HTTP calls
// deflate (15).
std::string Compress(const std::string& data, int windowBits) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
std::string Gzip(const std::string& data) { return Compress(data, 31); }

// A port nobody listens on.
int UnusedPort() {
  int sock = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_GE(sock, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  EXPECT_EQ(getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(sock);
  return ntohs(addr.sin_port);
}

using Status = DownloadResult::Status;

class DownloadTest : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    target = xdgDir + "/vessarine~";
  }

  // Downloads the loopback server's `where` into `path`.
  DownloadResult Get(const std::string& where, const std::string& path, DownloadLimits limits = {}) {
    DownloadRequest request;
    request.url = http.Url(where);
    request.path = path;
    request.limits = limits;
    return Download(request);
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
  // Compressed transfer is offered.
  const std::string codings = req.headers.count("Accept-Encoding") ? req.headers.find("Accept-Encoding")->second : "";
  EXPECT_NE(codings.find("gzip"), std::string::npos) << codings;
  EXPECT_NE(codings.find("deflate"), std::string::npos) << codings;
  // Nothing but what any HTTP client sends (httplib adds the address
  // entries); no condition unless asked.
  const std::set<std::string> allowed = {"Host",        "User-Agent",  "Accept",     "Accept-Encoding",
                                         "REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"};
  for (const auto& [name, value] : req.headers) EXPECT_TRUE(allowed.count(name)) << name;
}

TEST_F(DownloadTest, CopiesABodyOfManyReadsByteForByte) {
  const std::string body = BinaryBody(37 * 10240 + 123);
  http.Serve("/big", 200, body, 10240);
  http.Serve("/odd", 200, body, 4099);
  const DownloadResult result = Get("/big", target);
  ASSERT_EQ(result.status, Status::Ok) << result.reason;
  EXPECT_EQ(result.bytes, body.size());
  EXPECT_EQ(result.httpStatus, 200);
  EXPECT_EQ(result.reason, "");
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
  const DownloadResult result = Get("/ok", target);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason.rfind("cannot create " + target + ": ", 0), 0u) << result.reason;
  EXPECT_EQ(ReadFile(victim), "precious");
  // Nor is what was there removed when the download fails.
  EXPECT_TRUE(fs::is_symlink(target));
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
    const DownloadResult result = Get(path, target);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.reason, "HTTP " + std::to_string(status));
    EXPECT_EQ(result.httpStatus, status);
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
  DownloadResult result = Get("/r6", target);
  EXPECT_EQ(result.status, Status::Failed);
  // libcurl's own words.
  EXPECT_NE(result.reason.find("edirect"), std::string::npos) << result.reason;
  EXPECT_EQ(ReadFile(target), "earlier listing");

  // A chain that ends in something other than 200 fails too.
  http.Redirect("/to404", "/nowhere", 302);
  result = Get("/to404", target);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "HTTP 404");
  EXPECT_EQ(ReadFile(target), "earlier listing");

  // Only to http and https.
  http.Redirect("/toftp", "ftp://127.0.0.1/oui.txt", 302);
  result = Get("/toftp", target);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_NE(result.reason.find("ftp"), std::string::npos) << result.reason;
}

// Slower than the limit for the limit's time: a server that drips a byte at
// a time, one that answers nothing.
TEST_F(DownloadTest, ATransferTooSlowFailsAndLeavesNoFile) {
  DownloadLimits limits;
  limits.lowSpeedTime = std::chrono::seconds(1);
  http.StallBeforeHeaders("/silent");
  http.Drip("/drip", std::chrono::milliseconds(100));

  DownloadResult result = Get("/drip", target, limits);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "too slow");
  EXPECT_EQ(result.httpStatus, 200);
  EXPECT_FALSE(fs::exists(target));

  // Nothing was created, so what was there stays.
  WriteFile(target, "earlier listing");
  result = Get("/silent", target, limits);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "too slow");
  EXPECT_EQ(result.httpStatus, 0);
  EXPECT_EQ(ReadFile(target), "earlier listing");
}

TEST_F(DownloadTest, ATransferPastItsTimeFails) {
  DownloadLimits limits;
  limits.maxTime = std::chrono::seconds(1);
  http.StallAfter("/midway", 5000, 100000);
  const DownloadResult result = Get("/midway", target, limits);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "took longer than 1 second");
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(DownloadLimits{}.maxTime, std::chrono::minutes(10));
}

TEST_F(DownloadTest, ABodyOverTheCapFailsAndLeavesNoFile) {
  DownloadLimits limits;
  limits.maxBytes = 64 << 10;
  const std::string body = BinaryBody(64 << 10);
  http.Serve("/full", 200, body, 4099);
  http.Serve("/over", 200, body + "x");
  http.Endless("/endless");

  // Up to the cap is fine.
  DownloadResult result = Get("/full", target, limits);
  ASSERT_EQ(result.status, Status::Ok) << result.reason;
  EXPECT_EQ(ReadFile(target), body);

  // Announced over the cap: refused before the body.
  result = Get("/over", target + "2", limits);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "over the 64 KiB cap");
  EXPECT_FALSE(fs::exists(target + "2"));

  // Never announced, and never ending: stopped at the cap.
  result = Get("/endless", target + "3", limits);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "over the 64 KiB cap");
  EXPECT_FALSE(fs::exists(target + "3"));

  // By default, the cap of every listing.
  EXPECT_EQ(DownloadLimits{}.maxBytes, listing::kMaxListingBytes);
  http.Handle("/huge", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(listing::kMaxListingBytes + 1, "application/octet-stream",
                             [](size_t, size_t, httplib::DataSink& sink) { return sink.write("x", 1); });
  });
  result = Get("/huge", target + "4");
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.reason, "over the 64 MiB cap");
  EXPECT_FALSE(fs::exists(target + "4"));
}

// Compressed transfer is decoded; a body still compressed after that is not
// the listing.
TEST_F(DownloadTest, CompressedBodiesAreDecodedOrRefused) {
  const std::string body = BinaryBody(200000);
  const auto serve = [this](const std::string& path, std::string bytes, const std::string& coding) {
    http.Handle(path, [bytes, coding](const httplib::Request&, httplib::Response& res) {
      if (!coding.empty()) res.set_header("Content-Encoding", coding);
      res.set_content(bytes, "application/octet-stream");
    });
  };
  serve("/gzip", Gzip(body), "gzip");
  serve("/deflate", Compress(body, 15), "deflate");
  serve("/raw", Gzip(body), "");
  serve("/twice", Gzip(Gzip(body)), "gzip");
  serve("/compress", "\x1f\x9d\x90 not decoded", "compress");

  for (const char* path : {"/gzip", "/deflate"}) {
    SCOPED_TRACE(path);
    const std::string file = target + "." + (path + 1);
    const DownloadResult result = Get(path, file);
    ASSERT_EQ(result.status, Status::Ok) << result.reason;
    EXPECT_EQ(result.bytes, body.size());
    EXPECT_EQ(ReadFile(file), body);
  }
  for (const auto& [path, reason] : {std::pair{"/raw", "still compressed (gzip)"},
                                     std::pair{"/twice", "still compressed (gzip)"},
                                     std::pair{"/compress", "still compressed (compress)"}}) {
    SCOPED_TRACE(path);
    const std::string file = target + "." + (path + 1);
    const DownloadResult result = Get(path, file);
    EXPECT_EQ(result.status, Status::Failed);
    EXPECT_EQ(result.reason, reason);
    EXPECT_FALSE(fs::exists(file));
  }
}

// With the validators of the copy at hand, a 304 says it is current.
TEST_F(DownloadTest, ConditionalRequestsTakeA304AsNotModified) {
  const std::string etag = "\"v1-abc\"";
  const std::string modified = "Tue, 01 Dec 2026 10:00:00 GMT";
  http.Handle("/oui.txt", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", modified);
    if (req.get_header_value("If-None-Match") == etag ||
        req.get_header_value("If-Modified-Since") == modified) {
      res.status = 304;
      return;
    }
    res.set_content("listing", "text/plain");
  });

  DownloadRequest request;
  request.url = http.Url("/oui.txt");
  request.path = target;
  const DownloadResult first = Download(request);
  ASSERT_EQ(first.status, Status::Ok) << first.reason;
  EXPECT_EQ(first.etag, etag);
  EXPECT_EQ(first.lastModified, modified);

  // Either validator makes the request conditional.
  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(which);
    request.path = target + std::to_string(which);
    request.etag = which != 1 ? first.etag : "";
    request.lastModified = which != 0 ? first.lastModified : "";
    const DownloadResult again = Download(request);
    EXPECT_EQ(again.status, Status::NotModified) << again.reason;
    EXPECT_EQ(again.httpStatus, 304);
    EXPECT_EQ(again.etag, etag);
    EXPECT_EQ(again.lastModified, modified);
    EXPECT_FALSE(fs::exists(request.path));
  }
  const auto requests = http.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_FALSE(requests[0].headers.count("If-None-Match"));
  EXPECT_FALSE(requests[0].headers.count("If-Modified-Since"));
  EXPECT_EQ(requests[3].headers.find("If-None-Match")->second, etag);
  EXPECT_EQ(requests[3].headers.find("If-Modified-Since")->second, modified);

  // A changed listing comes whole, with its new validators.
  request.etag = "\"v0\"";
  request.lastModified = "";
  request.path = target + "new";
  const DownloadResult changed = Download(request);
  ASSERT_EQ(changed.status, Status::Ok) << changed.reason;
  EXPECT_EQ(changed.etag, etag);
  EXPECT_EQ(ReadFile(request.path), "listing");

  // An unasked-for 304 is no answer.
  http.Serve("/304", 304, "");
  const DownloadResult unasked = Get("/304", target + "304");
  EXPECT_EQ(unasked.status, Status::Failed);
  EXPECT_EQ(unasked.reason, "HTTP 304");
}

TEST_F(DownloadTest, ProgressCountsTheBodyInTheTransfersThread) {
  const std::string body = BinaryBody(300000);
  http.Serve("/big", 200, body);
  std::vector<std::pair<uint64_t, int64_t>> calls;
  const std::thread::id caller = std::this_thread::get_id();
  bool sameThread = true;
  DownloadRequest request;
  request.url = http.Url("/big");
  request.path = target;
  request.progress = [&](uint64_t received, int64_t total) {
    calls.emplace_back(received, total);
    sameThread = sameThread && std::this_thread::get_id() == caller;
  };
  ASSERT_EQ(Download(request).status, Status::Ok);
  EXPECT_TRUE(sameThread);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), (std::pair<uint64_t, int64_t>{body.size(), static_cast<int64_t>(body.size())}));
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_LE(calls[i - 1].first, calls[i].first);
    EXPECT_NE(calls[i - 1], calls[i]);  // only what changed
  }
}

// Each failure says why, in a short phrase.
TEST_F(DownloadTest, FailuresSayWhy) {
  http.Serve("/teapot", 418, "I'm a teapot");
  DownloadResult result = Get("/teapot", target);
  EXPECT_EQ(result.reason, "HTTP 418");

  // libcurl's own words, naming the address.
  const int port = UnusedPort();
  DownloadRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(port) + "/x";
  request.path = target;
  result = Download(request);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_EQ(result.httpStatus, 0);
  EXPECT_NE(result.reason.find("127.0.0.1"), std::string::npos) << result.reason;
  EXPECT_NE(result.reason.find(std::to_string(port)), std::string::npos) << result.reason;
  EXPECT_FALSE(fs::exists(target));

  http.Serve("/ok", 200, "listing");
  result = Get("/ok", xdgDir + "/missing/vessarine~");
  EXPECT_EQ(result.reason, "cannot create " + xdgDir + "/missing/vessarine~: No such file or directory");
  request.url = "not a url";
  result = Download(request);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_FALSE(result.reason.empty());

  // A validator that would end its header line is not sent.
  const size_t asked = http.Requests().size();
  request.url = http.Url("/teapot");
  request.etag = "\"x\"\r\nX-Injected: 1";
  result = Download(request);
  EXPECT_EQ(result.status, Status::Failed);
  EXPECT_FALSE(result.reason.empty());
  EXPECT_EQ(http.Requests().size(), asked);
}

// The requests run at once: each of the server's answers waits until all
// three requests have arrived, which one after another they never would.
TEST_F(DownloadTest, DownloadAllRunsThemTogetherAndAnswersInOrder) {
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  const auto together = [&](const httplib::Request& req, httplib::Response& res) {
    std::unique_lock lock(mutex);
    ++arrived;
    cv.notify_all();
    if (cv.wait_for(lock, std::chrono::seconds(20), [&] { return arrived >= 3; })) {
      res.set_content("listing " + req.path, "text/plain");
    } else {
      res.status = 503;
    }
  };
  for (const char* path : {"/oui/oui.txt", "/oui28/mam.txt", "/oui36/oui36.txt"}) http.Handle(path, together);

  std::vector<DownloadRequest> requests;
  for (const char* path : {"/oui/oui.txt", "/cid/cid.txt", "/oui28/mam.txt", "/oui36/oui36.txt"}) {
    DownloadRequest request;
    request.url = http.Url(path);
    request.path = target + "." + std::to_string(requests.size());
    requests.push_back(request);
  }
  const std::vector<DownloadResult> results = DownloadAll(requests);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[0].status, Status::Ok) << results[0].reason;
  EXPECT_EQ(results[1].status, Status::Failed);
  EXPECT_EQ(results[1].reason, "HTTP 404");
  EXPECT_EQ(results[2].status, Status::Ok) << results[2].reason;
  EXPECT_EQ(results[3].status, Status::Ok) << results[3].reason;
  EXPECT_EQ(ReadFile(requests[0].path), "listing /oui/oui.txt");
  EXPECT_FALSE(fs::exists(requests[1].path));
  EXPECT_EQ(ReadFile(requests[2].path), "listing /oui28/mam.txt");
  EXPECT_EQ(ReadFile(requests[3].path), "listing /oui36/oui36.txt");

  EXPECT_TRUE(DownloadAll({}).empty());
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
