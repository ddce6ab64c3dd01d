// Downloading the registry's listings over HTTP(S) with libcurl, which is
// loaded (dlopen) on the first download and never linked.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>

// Written by the download thread: the result is stored before the flag clears
// (release), and read after the flag has been seen at 0 (acquire).
extern std::atomic<uint8_t> g_bDownloading;
extern std::atomic<uint8_t> g_bDownloadOk;

// "http://standards-oui.ieee.org/oui/oui.txt?aa=<now>".
std::string ListingUrl(std::time_t now);

// A path for one update's downloaded listing in the cache directory:
// "vessarine~.<pid>.<n>", unique to this process and this update.
std::string NewListingPath();

// Fetches `url` (GET, HTTP/1.0) and copies the body of a final status-200
// answer into `path`, created (exclusively) only once that status is known.
// Returns true only then. Never throws. libcurl is loaded on first use, so
// programs that never download never load it.
bool DownloadListing(const std::string& url, const std::string& path);

// Download thread body: sets g_bDownloading, runs DownloadListing into
// `path`, stores g_bDownloadOk, clears g_bDownloading.
void DownloadThreadProc(const std::string& url, const std::string& path);

// Raises g_bDownloading, then starts DownloadThreadProc. Raising the flag
// before the thread exists means a conversion thread started next can never
// miss the download, however late the download thread gets to run.
std::thread LaunchDownloadThread(const std::string& url, const std::string& path);

// A fetch during which no byte arrives for this many seconds fails (60 by
// default). Tests shorten it.
void SetDownloadStallSeconds(long seconds);
