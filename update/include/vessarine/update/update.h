// The database update: download of the registry listing, its conversion into
// a new store, and the rewrite of the three cache files.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "vessarine/db/cache_files.h"

// Written by the download thread: the result is stored before the flag clears
// (release), and read after the flag has been seen at 0 (acquire).
extern std::atomic<uint8_t> g_bDownloading;
extern std::atomic<uint8_t> g_bDownloadOk;
// Set after a completed update; the dialog's paint handler clears it and pushes.
extern std::atomic<uint8_t> g_bRefreshPending;
// 1 from the start of an update until its conversion thread has ended; a
// second update is not started meanwhile.
extern std::atomic<uint8_t> g_bUpdateRunning;

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

// What the conversion thread needs from the window. Every call blocks until
// the user-interface side has carried it out (a message box: until closed).
class UpdateUi {
 public:
  virtual ~UpdateUi() = default;
  virtual void StepProgress() = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void ShowMessage(const char* caption, const char* text) = 0;  // GBK
  // Sets g_strDbVersion to `text` (GBK) on the user-interface side.
  virtual void SetVersionText(const std::string& text) = 0;
};

struct ConvertOptions {
  std::string listingPath;        // the listing to read
  bool deleteListing = true;      // delete it after a conversion (a download)
  bool waitForDownload = true;    // run the progress phase first
  // How long the cache rewrite waits for another process's rewrite to end.
  std::chrono::milliseconds lockWait = kUpdateLockWait;
  // Called after a completed update with the listing as read (before any
  // cleaning), for what else is made from it.
  std::function<void(std::string_view listing)> afterCompleted;
};

// Starts DownloadThreadProc(url) and ConvertThreadProc (on a new listing path
// in the cache directory; a completed update then refreshes the MA-L registry
// table from the same listing) as detached threads, unless an update is running
// already (then returns false and starts nothing). `ui` must outlive the
// threads, or become a no-op once its window is gone.
bool StartUpdateThreads(UpdateUi& ui, const std::string& url);

// The version text of an update made at `local` (GBK):
// "当前数据库版本为<year>-<month>-<day>", no leading zeros.
std::string VersionText(const std::tm& local);

// The conversion thread: progress phase, reading and conversion, cache
// rewrite, each step with its message. Returns true when it ended with
// "完成更新" (update complete).
bool ConvertThreadProc(UpdateUi& ui, const ConvertOptions& options);
