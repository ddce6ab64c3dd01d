// The database update: download of the registry listing, its conversion into
// a new store, and the rewrite of the three cache files.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vessarine/db/cache_files.h"
#include "vessarine/update/table_refresh.h"
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

// One registry's listing for an update: a file, or why there is none.
struct ListingFile {
  std::string path;        // empty: no listing for this registry
  std::string source;      // what messages name: the address or the user's path
  std::string problem;     // why there is no file (a failed download)
  bool downloaded = false; // this update's own download: removed once read
  bool unchanged = false;  // the registry answered 304: the table is current
  // The download's validators: sent with a conditional request, then the
  // answer's, kept beside the table the file becomes.
  std::string etag, lastModified;
};
// A listing file at `path`, named by its path.
inline ListingFile ListingAt(const std::string& path, bool downloaded = false) {
  ListingFile file;
  file.path = file.source = path;
  file.downloaded = downloaded;
  return file;
}
// By registry, in the registries' order; MA-L's is the store's listing.
using ListingFiles = std::array<ListingFile, 5>;

// What an update takes its listings from.
struct UpdateSource {
  std::string url;   // the MA-L listing; empty: ListingUrl(now)
  std::string site;  // where the others are; empty: the registry's own site
  std::string from;  // a folder or a listing file on disk instead of any download
  bool force = false;  // take listings the refusal rule would refuse
  bool listChanges = false;  // each result lists every assignment it changed
  // Ask only for listings changed since the tables in place were downloaded
  // (If-None-Match, If-Modified-Since); never with `force`.
  bool conditional = false;
  // Told of each download's bytes as they arrive (several threads at once).
  std::function<void(listing::Registry, uint64_t received, int64_t total)> progress;
};

// The registry's listings downloaded from `site` (a mirror of the registry's
// site), the MA-L one from `url`: what the tests' loopback servers stand in for.
inline UpdateSource MirrorSource(const std::string& url, const std::string& site) {
  UpdateSource source;
  source.url = url;
  source.site = site;
  return source;
}

// The listings of `from`: a folder holding any of the five listings (text
// form first, else CSV: oui.txt|oui.csv, mam.*, oui36.*, iab.*, cid.*), or
// one listing file of any registry, told by its content or else its name.
// Nothing when `problem` is set.
ListingFiles ListingsFromPath(const std::string& from, std::string* problem);
// Where an online update downloads each listing to, in the cache directory.
ListingFiles ListingsToDownload(const UpdateSource& source);
// Downloads every listing that has an address and not yet a file; a failed
// one keeps no file and says why.
void DownloadListings(ListingFiles& listings, const UpdateSource& source);

struct ConvertOptions {
  ListingFiles listings;
  bool waitForDownload = true;  // run the progress phase first
  bool force = false;
  bool listChanges = false;
  // Filled, when given, with one result per registry that had a listing or
  // a failed download.
  std::vector<update::RefreshResult>* results = nullptr;
};

// Starts the download thread (every listing of `source`) and ConvertThreadProc
// as detached threads, unless an update is running already (then returns
// false and starts nothing). `ui` must outlive the threads, or become a
// no-op once its window is gone.
bool StartUpdateThreads(UpdateUi& ui, const UpdateSource& source);

// The same update on the calling thread (the download on a thread of its
// own, joined); the messages go to `ui` as they come. `results` as in
// ConvertOptions. True when the database update completed.
bool RunUpdateHere(UpdateUi& ui, const UpdateSource& source, std::vector<update::RefreshResult>* results);

// The version text of an update made at `local` (GBK):
// "当前数据库版本为<year>-<month>-<day>", no leading zeros.
std::string VersionText(const std::tm& local);
// VersionText of the local date now.
std::string TodaysVersionText();

// The conversion thread: progress phase, then under the cache directory's
// lock the store from the MA-L listing (reading and conversion, cache
// rewrite, each step with its message) and every other registry's table.
// Each listing is judged by one refusal rule (update::RefusalOf) and
// committed on its own, all or nothing. Returns true when the store's update
// ended with "完成更新" (update complete).
bool ConvertThreadProc(UpdateUi& ui, const ConvertOptions& options);
