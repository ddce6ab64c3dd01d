// Downloading the registry's listings over HTTP(S) with libcurl, which is
// loaded (dlopen) on the first download and never linked.
//
// Every download is a GET (HTTP/1.0) that follows up to five redirects, to
// http and https addresses only, with a curl-style user agent and the proxies
// named in http_proxy, https_proxy and no_proxy. A connection that cannot be
// made within 2 seconds is tried once more. Compressed transfer (gzip,
// deflate, and what else the libcurl at hand decodes) is offered and decoded.
// Only the body of a final status-200 answer is kept, in a file created
// (exclusively, never through a link) once that status is known; a download
// that fails removes the file it created, and never touches one it did not.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "vessarine/listing/listing.h"

// The bounds of one download; past any of them it fails.
struct DownloadLimits {
  // The body as written to the file (decoded): the cap of every listing.
  uint64_t maxBytes = listing::kMaxListingBytes;
  // Slower than lowSpeedBytes per second for lowSpeedTime: "too slow". This
  // also ends a server that answers nothing at all.
  long lowSpeedBytes = 1024;
  std::chrono::seconds lowSpeedTime{60};
  // The whole download, from its start to the body's end, redirects and the
  // second connection attempt included.
  std::chrono::seconds maxTime = std::chrono::minutes(10);
};

struct DownloadRequest {
  std::string url;
  // Where the body goes. Of DownloadAll's requests, no two share a path.
  std::string path;
  // The validators of the copy at hand (an earlier DownloadResult's). When
  // either is set the request is conditional (If-None-Match,
  // If-Modified-Since), and a 304 answer means that copy is current.
  std::string etag;
  std::string lastModified;
  DownloadLimits limits;
  // Called now and then while the transfer runs, from the thread that runs
  // it (for DownloadAll, several threads at once), with the body bytes
  // received so far and the total the server announced, -1 while unknown.
  // Both count bytes as sent, so compressed when the server compressed the
  // body. It must be cheap and must not throw (a throw fails the download).
  std::function<void(uint64_t received, int64_t total)> progress;
};

struct DownloadResult {
  enum class Status {
    Ok,           // a status-200 body, whole, in the request's path
    NotModified,  // a 304 to a conditional request; no file is written
    Failed,       // see reason; no file of this download is left
  };
  Status status = Status::Failed;
  // Why it failed, one short phrase: "HTTP 404", "over the 64 MiB cap", "too
  // slow", "took longer than 10 minutes", "still compressed (gzip)", "cannot
  // create <path>: <error>", or libcurl's own text for the rest ("Could not
  // resolve host: ...", "Failed to connect to ..."). Empty unless Failed.
  std::string reason;
  // The final answer's ETag and Last-Modified, as sent (empty when absent);
  // for NotModified, the request's own where the answer repeats none.
  std::string etag;
  std::string lastModified;
  uint64_t bytes = 0;   // written to path
  long httpStatus = 0;  // the final answer's status; 0 when none came

  bool ok() const { return status == Status::Ok; }
};

// One download, run in the calling thread. Never throws. libcurl is loaded
// on first use, so programs that never download never load it.
DownloadResult Download(const DownloadRequest& request) noexcept;

// The requests run in parallel (one thread each, so the time taken is that of
// the slowest); the results come in the requests' order. Throws only
// std::bad_alloc, for the result vector itself.
std::vector<DownloadResult> DownloadAll(const std::vector<DownloadRequest>& requests);

// Written by the download thread: the result is stored before the flag clears
// (release), and read after the flag has been seen at 0 (acquire).
extern std::atomic<uint8_t> g_bDownloading;
extern std::atomic<uint8_t> g_bDownloadOk;

// "http://standards-oui.ieee.org/oui/oui.txt?aa=<now>".
std::string ListingUrl(std::time_t now);

// A path for one update's downloaded listing in the cache directory:
// "vessarine~.<pid>.<n>", unique to this process and this update.
std::string NewListingPath();

// Download({url, path}) with the default limits: true when it gave a file.
bool DownloadListing(const std::string& url, const std::string& path);

// Download thread body: sets g_bDownloading, runs DownloadListing into
// `path`, stores g_bDownloadOk, clears g_bDownloading.
void DownloadThreadProc(const std::string& url, const std::string& path);

// Raises g_bDownloading, then starts DownloadThreadProc. Raising the flag
// before the thread exists means a conversion thread started next can never
// miss the download, however late the download thread gets to run.
std::thread LaunchDownloadThread(const std::string& url, const std::string& path);
// The same for any download: `fetch` runs on the new thread (with the cache
// directory made), and what it returns becomes g_bDownloadOk.
std::thread LaunchDownloadThread(std::function<bool()> fetch);
