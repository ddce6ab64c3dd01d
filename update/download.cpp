// Download of the registry listing over HTTP with libcurl.
//
// libcurl is not linked into any program: it is loaded with dlopen on the
// first download, so a MAC lookup never pays for loading it and its
// dependencies. Only its headers are used here, for types and constants.
#include "vessarine/update/download.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"

#ifndef VESSARINE_VERSION
#define VESSARINE_VERSION "1.3"
#endif

std::atomic<uint8_t> g_bDownloading{0};
std::atomic<uint8_t> g_bDownloadOk{0};

namespace {

constexpr long kConnectTimeoutMs = 2000;
constexpr long kMaxRedirects = 5;
constexpr long kReadSize = 10240;

std::atomic<long> g_stallSeconds{60};

// The libcurl entry points the fetch uses, resolved from the library loaded at
// run time.
struct CurlApi {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_version_info) version_info = nullptr;
  std::string userAgent;
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
        !Resolve(lib, "curl_version_info", api.version_info)) {
      return;
    }
    if (api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return;
    const curl_version_info_data* info = api.version_info(CURLVERSION_NOW);
    // The registry's bot filter refuses bare tool names and some library
    // agents; a curl-style agent is served.
    api.userAgent = "Vessarine/" + std::string(VESSARINE_VERSION) + " curl/" +
                    (info != nullptr && info->version != nullptr ? info->version : "0");
    api.ok = true;
  });
  return api;
}

// Where the body goes. The file is created on the first body byte of a final
// status-200 answer, or after the transfer for an empty status-200 body.
struct Sink {
  const CurlApi* api = nullptr;
  CURL* handle = nullptr;
  const std::string* path = nullptr;
  int fd = -1;
  bool failed = false;       // wrong status, file not created, or a write failed
  bool gotResponse = false;  // some response header arrived
  std::chrono::steady_clock::time_point lastByte = std::chrono::steady_clock::now();
  std::chrono::seconds stall{60};

  bool Create() {
    // Each update downloads under a name of its own, created exclusively:
    // never through a link, never into another process's download.
    fd = open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd >= 0;
  }

  long Status() const {
    long status = 0;
    if (api->easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
    return status;
  }

  // A short or failed write would leave a truncated listing that converts
  // into a smaller registry without any sign of it, so it fails the fetch.
  bool WriteAll(const char* data, size_t size) { return ::WriteAll(fd, data, size); }

  bool Close() {
    if (fd < 0) return true;
    const bool ok = close(fd) == 0;
    fd = -1;
    return ok;
  }
};

size_t OnHeader(char*, size_t size, size_t count, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  sink.gotResponse = true;
  sink.lastByte = std::chrono::steady_clock::now();
  return size * count;
}

// Called about once a second whatever happens: ends a transfer that has
// received nothing, header or body, for the whole stall time.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const Sink& sink = *static_cast<const Sink*>(user);
  return std::chrono::steady_clock::now() - sink.lastByte >= sink.stall ? 1 : 0;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  const size_t bytes = size * count;
  sink.lastByte = std::chrono::steady_clock::now();
  if (sink.fd < 0) {
    // Bodies of followed redirects never reach here; anything but a final
    // 200 ends the transfer before the file is touched.
    if (sink.Status() != 200 || !sink.Create()) {
      sink.failed = true;
      return 0;
    }
  }
  if (!sink.WriteAll(data, bytes)) {
    sink.failed = true;
    return 0;
  }
  return bytes;
}

// One attempt. Returns the transfer's result; `sink` tells the rest.
CURLcode Perform(const CurlApi& api, CURL* h, const std::string& url, Sink& sink) {
  api.easy_setopt(h, CURLOPT_URL, url.c_str());
  api.easy_setopt(h, CURLOPT_HTTPGET, 1L);
  api.easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  api.easy_setopt(h, CURLOPT_USERAGENT, api.userAgent.c_str());
  api.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  api.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  api.easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
  api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  api.easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  api.easy_setopt(h, CURLOPT_BUFFERSIZE, kReadSize);
  api.easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  api.easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  api.easy_setopt(h, CURLOPT_XFERINFODATA, &sink);
  api.easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  api.easy_setopt(h, CURLOPT_HEADERDATA, &sink);
  api.easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  api.easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  return api.easy_perform(h);
}

// The connection itself could not be made (refused, or timed out before it
// was up): the one case that is tried again.
bool ConnectFailed(const CurlApi& api, CURL* h, CURLcode result, const Sink& sink) {
  if (sink.gotResponse) return false;
  if (result == CURLE_COULDNT_CONNECT) return true;
  if (result != CURLE_OPERATION_TIMEDOUT) return false;
  curl_off_t connectTime = 0;
  api.easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectTime);
  return connectTime == 0;
}

}  // namespace

std::string ListingUrl(std::time_t now) {
  char url[96];
  std::snprintf(url, sizeof url, "http://standards-oui.ieee.org/oui/oui.txt?aa=%lld",
                static_cast<long long>(now));
  return url;
}

void SetDownloadStallSeconds(long seconds) {
  g_stallSeconds.store(seconds > 0 ? seconds : 1, std::memory_order_relaxed);
}

bool DownloadListing(const std::string& url, const std::string& path) {
  try {
    const CurlApi& api = Curl();
    if (!api.ok) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
      CURL* h = api.easy_init();
      if (h == nullptr) return false;
      Sink sink;
      sink.api = &api;
      sink.handle = h;
      sink.path = &path;
      sink.stall = std::chrono::seconds(g_stallSeconds.load(std::memory_order_relaxed));
      const CURLcode result = Perform(api, h, url, sink);
      bool ok = false;
      if (result == CURLE_OK && !sink.failed && sink.Status() == 200) {
        // A status-200 answer with an empty body still gives its (empty) file.
        ok = sink.fd >= 0 || sink.Create();
      }
      // A body cut short stays in the file as far as it came.
      ok = sink.Close() && ok;
      const bool retry = !ok && attempt == 0 && ConnectFailed(api, h, result, sink);
      api.easy_cleanup(h);
      if (ok) return true;
      if (!retry) return false;
    }
    return false;
  } catch (...) {
    return false;
  }
}

std::string NewListingPath() {
  static std::atomic<unsigned> serial{0};
  return CachePath(kListingTempFile) + "." + std::to_string(getpid()) + "." +
         std::to_string(serial.fetch_add(1, std::memory_order_relaxed));
}

void DownloadThreadProc(const std::string& url, const std::string& path) {
  g_bDownloading.store(1, std::memory_order_release);
  bool ok = false;
  try {
    MakeDirectories(CacheDir());
    ok = DownloadListing(url, path);
  } catch (...) {
    ok = false;
  }
  // The result becomes visible no later than the cleared flag.
  g_bDownloadOk.store(ok ? 1 : 0, std::memory_order_release);
  g_bDownloading.store(0, std::memory_order_release);
}

std::thread LaunchDownloadThread(const std::string& url, const std::string& path) {
  g_bDownloading.store(1, std::memory_order_release);
  try {
    return std::thread(DownloadThreadProc, url, path);
  } catch (...) {
    g_bDownloadOk.store(0, std::memory_order_release);
    g_bDownloading.store(0, std::memory_order_release);
    throw;
  }
}
