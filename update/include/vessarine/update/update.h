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

#include "vessarine/db/cache_files.h"
#include "vessarine/update/download.h"

// Set after a completed update; the dialog's paint handler clears it and pushes.
extern std::atomic<uint8_t> g_bRefreshPending;
// 1 from the start of an update until its conversion thread has ended; a
// second update is not started meanwhile.
extern std::atomic<uint8_t> g_bUpdateRunning;

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
