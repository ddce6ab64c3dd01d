// The update after the download: reading and converting the listing, putting
// the new store in place and rewriting the three cache files.
#include "update/update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "db/loader.h"
#include "db/store.h"
#include "db/texts.h"
#include "update/convert.h"
#include "update/update_texts.h"

std::atomic<uint8_t> g_bRefreshPending{0};
std::atomic<uint8_t> g_bUpdateRunning{0};

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A cache file written under a temporary name beside it and renamed into
// place once complete and on disk, so that the next start never loads a torn
// file. Whatever is not committed is removed.
class CacheFileWriter {
 public:
  explicit CacheFileWriter(const char* name)
      : dir_(CacheDir()), final_(CachePath(name)), temp_(final_ + ".new") {}
  CacheFileWriter(const CacheFileWriter&) = delete;
  CacheFileWriter& operator=(const CacheFileWriter&) = delete;
  ~CacheFileWriter() { Abandon(); }

  bool Open() {
    MakeDirectories(dir_);
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ok_ = fd_ >= 0;
    return ok_;
  }

  void Write(const char* data, size_t size) {
    while (ok_ && size > 0) {
      const ssize_t n = write(fd_, data, size);
      if (n < 0) {
        if (errno != EINTR) ok_ = false;
        continue;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  // Flushes, closes and renames into place; false (and nothing in place)
  // when any step failed.
  bool Commit() {
    if (fd_ < 0) return false;
    ok_ = ok_ && fsync(fd_) == 0;
    ok_ = close(fd_) == 0 && ok_;
    fd_ = -1;
    ok_ = ok_ && rename(temp_.c_str(), final_.c_str()) == 0;
    if (!ok_) {
      unlink(temp_.c_str());
      return false;
    }
    SyncDirectory();
    return true;
  }

 private:
  void Abandon() {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
  }

  // Makes the rename itself last through a power loss.
  void SyncDirectory() const {
    const int dirFd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return;
    fsync(dirFd);
    close(dirFd);
  }

  std::string dir_;
  std::string final_;
  std::string temp_;
  int fd_ = -1;
  bool ok_ = false;
};

// Opens the listing for reading. Only a regular file counts: on Linux a
// directory opens too, and a device or pipe could block or never end.
FILE* OpenListing(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return nullptr;
  struct stat st {};
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

// The whole file, as far as it can be read.
bool ReadListing(FILE* file, std::string& text) {
  if (std::fseek(file, 0, SEEK_END) != 0) return false;
  const long length = std::ftell(file);
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
  text.resize(static_cast<size_t>(length));
  const size_t got = std::fread(text.data(), 1, text.size(), file);
  text.resize(got);
  return std::ferror(file) == 0;
}

}  // namespace

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') {
      const std::string part = dir.substr(0, pos);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return IsDirectory(dir);
}

std::string VersionText(const std::tm& local) {
  char text[64];
  std::snprintf(text, sizeof text, kVersionDateFormat, local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

bool ConvertThreadProc(UpdateUi& ui, const ConvertOptions& options) {
  if (options.waitForDownload) {
    // The download thread has raised its flag before this thread started.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    while (g_bDownloading.load(std::memory_order_acquire) != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ui.StepProgress();
    }
    ui.SetProgressPos(1000);
    if (g_bDownloadOk.load(std::memory_order_acquire) == 0) {
      ui.ShowMessage(kCaptionUpdateFailed, kMsgDownloadFailed);
      return false;
    }
  }

  FILE* listing = OpenListing(options.listingPath);
  if (listing == nullptr) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgListingUnreadable);
    return false;
  }
  ui.ShowMessage(kCaptionUpdate, kMsgDownloadDone);

  // The new store is built aside; the loaded one stays in use until it is
  // swapped in, and stays as it is when the listing is refused.
  const char* macList = nullptr;
  char* addrList = nullptr;
  int32_t count = 0;
  size_t addrLength = 0;
  {
    std::string text;
    ConvertedStore built;
    bool accepted = false;
    try {
      const bool readOk = ReadListing(listing, text);
      std::fclose(listing);
      listing = nullptr;
      if (readOk) {
        TextModeNewlines(text);
        accepted = BuildStoreFromListing(text, built);
      }
    } catch (const std::bad_alloc&) {
      if (listing != nullptr) std::fclose(listing);
      accepted = false;
    }
    if (!accepted) {
      ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
      return false;
    }
    macList = built.macList;
    addrList = built.addrList;
    count = built.count;
    addrLength = built.addrLength;
    ReplaceStore(built.macList, built.addrList, built.count);
    built.macList = nullptr;
    built.addrList = nullptr;
    built.count = 0;
  }

  if (options.deleteListing) unlink(options.listingPath.c_str());

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);

  // Each write checks that the store it came from is still the one in place:
  // the exit button may have released it meanwhile, and an empty or freed
  // table must never become the cache.
  bool ok = false;
  {
    CacheFileWriter file(kCacheMacFile);
    if (file.Open()) {
      {
        std::shared_lock lock(StoreLock());
        ok = companyMacList == macList && companyCount == count;
        if (ok) file.Write(macList, static_cast<size_t>(count) * kRecordSize);
      }
      ok = ok && file.Commit();
    }
  }
  if (!ok) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
    return false;
  }

  ok = false;
  {
    CacheFileWriter file(kCacheAddrFile);
    if (file.Open()) {
      {
        // The address lines of the live store change from line feeds to '>'
        // (the form the file holds); queries read the same text either way.
        std::unique_lock lock(StoreLock());
        ok = companyAddrList == addrList;
        if (ok) {
          LineFeedsToGt(addrList, addrLength);
          file.Write(addrList, addrLength);
        }
      }
      ok = ok && file.Commit();
    }
  }
  if (!ok) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
    unlink(CachePath(kCacheMacFile).c_str());
    return false;
  }

  const std::string version = VersionText(local);
  ok = false;
  {
    CacheFileWriter file(kCacheVersionFile);
    if (file.Open()) {
      file.Write(version.data(), version.size());
      ok = file.Commit();
    }
  }
  if (!ok) {
    ui.ShowMessage(kCaptionUpdateFailed, kMsgUpdateFailed);
    unlink(CachePath(kCacheMacFile).c_str());
    unlink(CachePath(kCacheAddrFile).c_str());
    return false;
  }

  ui.SetVersionText(version);
  g_bRefreshPending.store(1, std::memory_order_release);
  ui.ShowMessage(kCaptionUpdate, kMsgUpdateDone);
  return true;
}

bool StartUpdateThreads(UpdateUi& ui, const std::string& url) {
  uint8_t idle = 0;
  if (!g_bUpdateRunning.compare_exchange_strong(idle, 1, std::memory_order_acq_rel)) {
    return false;
  }
  try {
    ConvertOptions options;
    options.listingPath = CachePath(kListingTempFile);
    LaunchDownloadThread(url).detach();
    std::thread([&ui, options] {
      try {
        ConvertThreadProc(ui, options);
      } catch (...) {
        // Nothing to tell: the user interface itself failed.
      }
      g_bUpdateRunning.store(0, std::memory_order_release);
    }).detach();
  } catch (...) {
    // No conversion thread: the update is not running. A download thread
    // that did start ends on its own and only leaves its temporary file.
    g_bUpdateRunning.store(0, std::memory_order_release);
    return false;
  }
  return true;
}
