// Downloads over HTTP(S) with libcurl.
//
// libcurl is not linked into any program: it is loaded with dlopen on the
// first download, so a MAC lookup never pays for loading it and its
// dependencies. Only its headers are used here, for types and constants.
#include "vessarine/update/download.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/update/registries.h"

std::atomic<uint8_t> g_bDownloading{0};
std::atomic<uint8_t> g_bDownloadOk{0};

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kConnectTimeoutMs = 2000;
constexpr long kMaxRedirects = 5;
constexpr long kReadSize = 10240;

// The libcurl entry points the downloads use, resolved from the library
// loaded at run time, and what that library can decode.
struct CurlApi {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
  decltype(&curl_version_info) version_info = nullptr;
  std::string userAgent;
  bool gzip = false;  // gzip and deflate (zlib)
  bool brotli = false;
  bool zstd = false;
  bool ok = false;
};

template <typename F>
bool Resolve(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

const CurlApi& Curl() {
  static CurlApi api;
  static std::once_flag once;
  std::call_once(once, [] {
    // Never closed: libcurl keeps global state for the rest of the run.
    void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    if (!Resolve(lib, "curl_global_init", api.global_init) ||
        !Resolve(lib, "curl_easy_init", api.easy_init) ||
        !Resolve(lib, "curl_easy_setopt", api.easy_setopt) ||
        !Resolve(lib, "curl_easy_perform", api.easy_perform) ||
        !Resolve(lib, "curl_easy_getinfo", api.easy_getinfo) ||
        !Resolve(lib, "curl_easy_cleanup", api.easy_cleanup) ||
        !Resolve(lib, "curl_easy_strerror", api.easy_strerror) ||
        !Resolve(lib, "curl_slist_append", api.slist_append) ||
        !Resolve(lib, "curl_slist_free_all", api.slist_free_all) ||
        !Resolve(lib, "curl_version_info", api.version_info)) {
      return;
    }
    if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    const curl_version_info_data* info = api.version_info(CURLVERSION_NOW);
    // The agent is what makes the request: libcurl, named as it names itself.
    // The registry's server refuses other agents (418), a product token in
    // front of curl's included, and an agent made up to get past it would
    // not be honest; a refusal is told with the ways round it instead.
    api.userAgent = "curl/" + std::string(info != nullptr && info->version != nullptr ? info->version : "0");
    if (info != nullptr) {
      api.gzip = (info->features & CURL_VERSION_LIBZ) != 0;
      api.brotli = (info->features & CURL_VERSION_BROTLI) != 0;
      api.zstd = (info->features & CURL_VERSION_ZSTD) != 0;
    }
    api.ok = true;
  });
  return api;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

// A header value or a validator that could not go into a request line as it is.
bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F;
  });
}

// The first coding of a Content-Encoding value that `api`'s libcurl does not
// decode; empty when it decodes them all.
std::string UndecodedCoding(const CurlApi& api, std::string_view header) {
  while (!header.empty()) {
    const size_t comma = header.find(',');
    std::string coding(Trim(header.substr(0, comma)));
    header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
    std::transform(coding.begin(), coding.end(), coding.begin(), Lower);
    const bool decoded = coding.empty() || coding == "identity" ||
                         (api.gzip && (coding == "gzip" || coding == "x-gzip" || coding == "deflate")) ||
                         (api.brotli && coding == "br") || (api.zstd && coding == "zstd");
    if (!decoded) return coding;
  }
  return {};
}

// The answers with which a server turns a client away (teapot, forbidden,
// too many requests) rather than saying the listing is not there.
bool RefusesClient(long status) { return status == 403 || status == 418 || status == 429; }

std::string HttpReason(long status) {
  const std::string code = "HTTP " + std::to_string(status);
  return RefusesClient(status) ? RefusedByServer(code) : code;
}

std::string CapReason(uint64_t cap) {
  if (cap >= (uint64_t{1} << 20) && cap % (uint64_t{1} << 20) == 0) {
    return "over the " + std::to_string(cap >> 20) + " MiB cap";
  }
  if (cap >= 1024 && cap % 1024 == 0) return "over the " + std::to_string(cap >> 10) + " KiB cap";
  return "over the " + std::to_string(cap) + "-byte cap";
}

std::string TookLongerReason(std::chrono::seconds bound) {
  const long long s = bound.count();
  if (s >= 60 && s % 60 == 0) {
    return "took longer than " + std::to_string(s / 60) + (s == 60 ? " minute" : " minutes");
  }
  return "took longer than " + std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// One attempt of one download: the file its body goes to, and what the
// answer has told so far. Removes the file it created unless kept.
struct Transfer {
  Transfer(const CurlApi& curl, CURL* h, const DownloadRequest& req)
      : api(curl), handle(h), request(req) {
    error[0] = '\0';
  }
  ~Transfer() { Discard(); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  const CurlApi& api;
  CURL* handle;
  const DownloadRequest& request;
  int fd = -1;
  bool created = false;  // the file at request.path is this transfer's
  bool kept = false;
  uint64_t written = 0;
  std::string reason;        // why a callback ended the transfer
  bool gotResponse = false;  // some response header arrived
  // Of the answer being received; at the end, of the final one.
  std::string etag;
  std::string lastModified;
  std::string contentEncoding;
  unsigned char head[2] = {0, 0};
  size_t headSize = 0;
  uint64_t reportedReceived = std::numeric_limits<uint64_t>::max();
  int64_t reportedTotal = 0;
  char error[CURL_ERROR_SIZE];

  long Status() const {
    long status = 0;
    if (api.easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
    return status;
  }

  bool Create() {
    // Each download goes to a name of its own, created exclusively: never
    // through a link, never into another process's download.
    fd = open(request.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      reason = "cannot create " + request.path + ": " + ErrnoText(errno);
      return false;
    }
    created = true;
    return true;
  }

  // A short or failed write would leave a truncated listing that converts
  // into a smaller registry without any sign of it, so it fails the download.
  bool Write(const char* data, size_t size) {
    if (::WriteAll(fd, data, size)) return true;
    reason = "cannot write " + request.path + ": " + ErrnoText(errno);
    return false;
  }

  bool Close() {
    if (fd < 0) return true;
    const bool ok = close(fd) == 0;
    if (!ok) reason = "cannot write " + request.path + ": " + ErrnoText(errno);
    fd = -1;
    return ok;
  }

  void Discard() {
    if (fd >= 0) close(fd);
    fd = -1;
    if (created && !kept) unlink(request.path.c_str());
    created = false;
  }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  t.gotResponse = true;
  try {
    const std::string_view line(data, bytes);
    if (line.substr(0, 5) == "HTTP/") {
      // A new answer (after a redirect, say): the last one's headers are gone.
      t.etag.clear();
      t.lastModified.clear();
      t.contentEncoding.clear();
      return bytes;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return bytes;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (HasControl(value)) return bytes;
    if (SameName(name, "ETag")) {
      t.etag = value;
    } else if (SameName(name, "Last-Modified")) {
      t.lastModified = value;
    } else if (SameName(name, "Content-Encoding")) {
      if (!t.contentEncoding.empty()) t.contentEncoding += ", ";
      t.contentEncoding += value;
    }
    return bytes;
  } catch (...) {
    return 0;
  }
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  try {
    if (t.fd < 0) {
      // Bodies of followed redirects never reach here; anything but a final
      // 200 ends the transfer before the file is touched.
      const long status = t.Status();
      if (status != 200) {
        t.reason = HttpReason(status);
        return 0;
      }
      const std::string coding = UndecodedCoding(t.api, t.contentEncoding);
      if (!coding.empty()) {
        t.reason = "still compressed (" + coding + ")";
        return 0;
      }
      if (!t.Create()) return 0;
    }
    if (bytes > t.request.limits.maxBytes - t.written) {
      t.reason = CapReason(t.request.limits.maxBytes);
      return 0;
    }
    // A gzip stream that no Content-Encoding announced, or one inside
    // another: what libcurl hands over is not the listing.
    if (t.headSize < 2) {
      for (size_t i = 0; t.headSize < 2 && i < bytes; ++i) {
        t.head[t.headSize++] = static_cast<unsigned char>(data[i]);
      }
      if (t.headSize == 2 && t.head[0] == 0x1F && t.head[1] == 0x8B) {
        t.reason = "still compressed (gzip)";
        return 0;
      }
    }
    if (!t.Write(data, bytes)) return 0;
    t.written += bytes;
    return bytes;
  } catch (...) {
    return 0;
  }
}

// Reports only what changed: libcurl calls this for every piece and about
// once a second besides.
int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  Transfer& t = *static_cast<Transfer*>(user);
  const uint64_t received = dlnow > 0 ? static_cast<uint64_t>(dlnow) : 0;
  const int64_t total = dltotal > 0 ? static_cast<int64_t>(dltotal) : -1;
  if (received == t.reportedReceived && total == t.reportedTotal) return 0;
  t.reportedReceived = received;
  t.reportedTotal = total;
  try {
    t.request.progress(received, total);
    return 0;
  } catch (...) {
    t.reason = "the progress callback failed";
    return 1;
  }
}

// The file of certificate authorities the user names, as curl's tool and
// OpenSSL take it; null for libcurl's own.
const char* CertificateAuthorities() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return nullptr;
}

// Sets every option of one attempt. An option this libcurl refuses (one it
// lacks, like the protocol rule on an old libcurl) fails the download rather
// than quietly dropping its rule; the reason names it.
bool Configure(const CurlApi& api, Transfer& t, curl_slist* headers, long timeoutMs) {
  CURL* h = t.handle;
  const DownloadLimits& limits = t.request.limits;
  bool ok = true;
  const auto set = [&](CURLoption option, const char* name, auto value) {
    if (!ok) return;
    const CURLcode code = api.easy_setopt(h, option, value);
    if (code == CURLE_OK) return;
    ok = false;
    t.reason = std::string("libcurl refuses ") + name + ": " + api.easy_strerror(code);
  };
#define VESSARINE_SET(option, value) set(option, #option, value)
  VESSARINE_SET(CURLOPT_URL, t.request.url.c_str());
  VESSARINE_SET(CURLOPT_HTTPGET, 1L);
  VESSARINE_SET(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  VESSARINE_SET(CURLOPT_USERAGENT, api.userAgent.c_str());
  // Certificates are checked against the system's authorities, or those of
  // a proxy that shows its own.
  if (const char* authorities = CertificateAuthorities()) VESSARINE_SET(CURLOPT_CAINFO, authorities);
  if (headers != nullptr) VESSARINE_SET(CURLOPT_HTTPHEADER, headers);
  // Every coding this libcurl decodes is offered, and decoded.
  VESSARINE_SET(CURLOPT_ACCEPT_ENCODING, "");
  VESSARINE_SET(CURLOPT_NOSIGNAL, 1L);
  VESSARINE_SET(CURLOPT_ERRORBUFFER, t.error);
  VESSARINE_SET(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  VESSARINE_SET(CURLOPT_TIMEOUT_MS, timeoutMs);
  VESSARINE_SET(CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
  VESSARINE_SET(CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.lowSpeedTime.count()));
  // An announced length over the cap ends the transfer before its body (0
  // would mean no cap to libcurl; OnBody refuses every byte then).
  if (limits.maxBytes > 0) {
    const uint64_t cap = std::min<uint64_t>(limits.maxBytes, std::numeric_limits<curl_off_t>::max());
    VESSARINE_SET(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(cap));
  }
  VESSARINE_SET(CURLOPT_FOLLOWLOCATION, 1L);
  VESSARINE_SET(CURLOPT_MAXREDIRS, kMaxRedirects);
  VESSARINE_SET(CURLOPT_PROTOCOLS_STR, "http,https");
  // An HTTPS address is never redirected to plain HTTP.
  const bool secure = std::string_view(t.request.url).substr(0, 8) == "https://";
  VESSARINE_SET(CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  VESSARINE_SET(CURLOPT_BUFFERSIZE, kReadSize);
  VESSARINE_SET(CURLOPT_HEADERFUNCTION, &OnHeader);
  VESSARINE_SET(CURLOPT_HEADERDATA, &t);
  VESSARINE_SET(CURLOPT_WRITEFUNCTION, &OnBody);
  VESSARINE_SET(CURLOPT_WRITEDATA, &t);
  if (t.request.progress) {
    VESSARINE_SET(CURLOPT_NOPROGRESS, 0L);
    VESSARINE_SET(CURLOPT_XFERINFOFUNCTION, &OnProgress);
    VESSARINE_SET(CURLOPT_XFERINFODATA, &t);
  }
#undef VESSARINE_SET
  return ok;
}

// The connection itself could not be made (refused, or timed out before it
// was up): the one case that is tried again.
bool ConnectFailed(const Transfer& t, CURLcode code) {
  if (t.gotResponse) return false;
  if (code == CURLE_COULDNT_CONNECT) return true;
  if (code != CURLE_OPERATION_TIMEDOUT) return false;
  curl_off_t connectTime = 0;
  t.api.easy_getinfo(t.handle, CURLINFO_CONNECT_TIME_T, &connectTime);
  return connectTime == 0;
}

// Why a transfer that libcurl ended with `code` failed, when no callback said.
std::string FailureReason(const Transfer& t, CURLcode code, long status, Clock::time_point deadline) {
  const DownloadLimits& limits = t.request.limits;
  if (code == CURLE_BAD_CONTENT_ENCODING && status == 200) {
    const std::string coding = UndecodedCoding(t.api, t.contentEncoding);
    if (!coding.empty()) return "still compressed (" + coding + ")";
  }
  // An error answer is named by its status, whatever became of its body.
  if (status != 0 && status != 200 && (status < 300 || status >= 400)) return HttpReason(status);
  if (code == CURLE_FILESIZE_EXCEEDED) return CapReason(limits.maxBytes);
  if (code == CURLE_OPERATION_TIMEDOUT) {
    // libcurl's timers run on a time it reads once per pass, so its time-out
    // may come a little before the deadline as this thread's clock has it.
    if (Clock::now() + std::chrono::milliseconds(100) >= deadline) return TookLongerReason(limits.maxTime);
    if (!ConnectFailed(t, code)) return "too slow";
  }
  if (t.error[0] != '\0') return std::string(Trim(t.error));
  return t.api.easy_strerror(code);
}

struct EasyHandle {
  const CurlApi& api;
  CURL* h;
  explicit EasyHandle(const CurlApi& a) : api(a), h(a.easy_init()) {}
  ~EasyHandle() {
    if (h != nullptr) api.easy_cleanup(h);
  }
  EasyHandle(const EasyHandle&) = delete;
  EasyHandle& operator=(const EasyHandle&) = delete;
};

struct HeaderList {
  const CurlApi& api;
  curl_slist* list = nullptr;
  explicit HeaderList(const CurlApi& a) : api(a) {}
  ~HeaderList() {
    if (list != nullptr) api.slist_free_all(list);
  }
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  void Add(const std::string& line) {
    curl_slist* longer = api.slist_append(list, line.c_str());
    if (longer == nullptr) throw std::bad_alloc();
    list = longer;
  }
};

DownloadResult Failed(std::string reason) {
  DownloadResult result;
  result.reason = std::move(reason);
  return result;
}

}  // namespace

std::string ListingUrl(std::time_t now) {
  char url[96];
  std::snprintf(url, sizeof url, "%s/oui/oui.txt?aa=%lld", kRegistrySite, static_cast<long long>(now));
  return url;
}

std::string RefusedByServer(std::string_view what) {
  return std::string(what) +
         ": the registry's server refused this client; update from Debian's copy of the listings "
         "(package ieee-data) with `update --from /usr/share/ieee-data`, or from a mirror with `--site URL`";
}

DownloadResult Download(const DownloadRequest& request) noexcept {
  try {
    const CurlApi& api = Curl();
    if (!api.ok) return Failed("libcurl (libcurl.so.4) cannot be loaded");
    if (HasControl(request.etag) || HasControl(request.lastModified)) {
      return Failed("the ETag or Last-Modified to send holds a control character");
    }
    const bool conditional = !request.etag.empty() || !request.lastModified.empty();
    HeaderList headers(api);
    if (!request.etag.empty()) headers.Add("If-None-Match: " + request.etag);
    if (!request.lastModified.empty()) headers.Add("If-Modified-Since: " + request.lastModified);
    const Clock::time_point deadline = Clock::now() + request.limits.maxTime;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return Failed(TookLongerReason(request.limits.maxTime));
      EasyHandle easy(api);
      if (easy.h == nullptr) return Failed("libcurl cannot start a transfer");
      Transfer t(api, easy.h, request);
      if (!Configure(api, t, headers.list, static_cast<long>(left.count()))) return Failed(std::move(t.reason));
      const CURLcode code = api.easy_perform(easy.h);

      DownloadResult result;
      result.httpStatus = t.Status();
      if (code == CURLE_OK && t.reason.empty()) {
        if (result.httpStatus == 200) {
          // A status-200 answer with an empty body still gives its (empty) file.
          if ((t.fd >= 0 || t.Create()) && t.Close()) {
            t.kept = true;
            result.status = DownloadResult::Status::Ok;
            result.bytes = t.written;
            result.etag = std::move(t.etag);
            result.lastModified = std::move(t.lastModified);
            return result;
          }
        } else if (result.httpStatus == 304 && conditional) {
          result.status = DownloadResult::Status::NotModified;
          result.etag = t.etag.empty() ? request.etag : std::move(t.etag);
          result.lastModified = t.lastModified.empty() ? request.lastModified : std::move(t.lastModified);
          return result;
        } else {
          t.reason = HttpReason(result.httpStatus);
        }
      }
      result.reason = !t.reason.empty() ? std::move(t.reason) : FailureReason(t, code, result.httpStatus, deadline);
      t.Discard();
      if (attempt > 0 || !ConnectFailed(t, code)) return result;
    }
    return Failed("no attempt made");  // not reached
  } catch (const std::bad_alloc&) {
    return Failed("out of memory");
  } catch (...) {
    return Failed("internal error");
  }
}

std::vector<DownloadResult> DownloadAll(const std::vector<DownloadRequest>& requests) {
  std::vector<DownloadResult> results(requests.size());
  std::vector<std::thread> threads;
  try {
    threads.reserve(requests.size());
  } catch (const std::bad_alloc&) {
    // Threads are still started; only their list may grow.
  }
  for (size_t i = 1; i < requests.size(); ++i) {
    try {
      threads.emplace_back([&requests, &results, i] { results[i] = Download(requests[i]); });
    } catch (...) {
      // No thread to be had: this one runs here, the rest still in parallel.
      results[i] = Download(requests[i]);
    }
  }
  if (!requests.empty()) results[0] = Download(requests[0]);
  for (std::thread& thread : threads) thread.join();
  return results;
}

bool DownloadListing(const std::string& url, const std::string& path) {
  try {
    DownloadRequest request;
    request.url = url;
    request.path = path;
    return Download(request).ok();
  } catch (...) {
    return false;
  }
}

std::string NewListingPath() {
  static std::atomic<unsigned> serial{0};
  return CachePath(kListingTempFile) + "." + std::to_string(getpid()) + "." +
         std::to_string(serial.fetch_add(1, std::memory_order_relaxed));
}

namespace {

void RunDownloadThread(const std::function<bool()>& fetch) {
  g_bDownloading.store(1, std::memory_order_release);
  bool ok = false;
  try {
    MakeDirectories(CacheDir());
    ok = fetch();
  } catch (...) {
    ok = false;
  }
  // The result becomes visible no later than the cleared flag.
  g_bDownloadOk.store(ok ? 1 : 0, std::memory_order_release);
  g_bDownloading.store(0, std::memory_order_release);
}

}  // namespace

void DownloadThreadProc(const std::string& url, const std::string& path) {
  RunDownloadThread([&] { return DownloadListing(url, path); });
}

std::thread LaunchDownloadThread(std::function<bool()> fetch) {
  g_bDownloading.store(1, std::memory_order_release);
  try {
    return std::thread(RunDownloadThread, std::move(fetch));
  } catch (...) {
    g_bDownloadOk.store(0, std::memory_order_release);
    g_bDownloading.store(0, std::memory_order_release);
    throw;
  }
}

std::thread LaunchDownloadThread(const std::string& url, const std::string& path) {
  return LaunchDownloadThread([url, path] { return DownloadListing(url, path); });
}
