// The cache directory's files: how they are opened, mapped, written and
// committed, and the lock that keeps several processes from tearing them.
//
// Several processes may use one cache directory at once (two windows, a
// script running `vessarine-cli update`). Writers hold CacheDirLock
// exclusively for a whole rewrite and write every file under a unique
// temporary name created exclusively, renamed into place once complete;
// readers hold it shared while they open the files. A kill at any instant
// leaves either the previous set, the new one, or a set whose marker
// (~cmpyset~, below) no longer matches, which the loader refuses.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vessarine/db/cache_dir.h"
#include "vessarine/store/store.h"

// Size caps, well above ten times today's registry (3.7 MB of vendor table,
// 2 MB of address text): a larger file is damaged, not read.
inline constexpr size_t kMaxCacheTableBytes = size_t{64} << 20;
inline constexpr size_t kMaxCacheTextBytes = size_t{64} << 20;
// The version text and the set marker are a few dozen bytes.
inline constexpr size_t kMaxCacheSmallFileBytes = size_t{64} << 10;

// How long a reader waits for a rewrite to end before it reads anyway (the
// marker still protects it), and how long an update waits for another one.
inline constexpr std::chrono::milliseconds kReaderLockWait{2000};
inline constexpr std::chrono::milliseconds kUpdateLockWait{10000};

// flock() on the cache directory's lock file, held until destroyed.
class CacheDirLock {
 public:
  // Creates the directory and the lock file when missing. Empty when the lock
  // cannot be had within `wait`, or the lock file is not a regular file.
  static std::optional<CacheDirLock> Exclusive(std::chrono::milliseconds wait);
  // Never creates the directory. Empty when there is nothing to lock or the
  // lock cannot be had within `wait`.
  static std::optional<CacheDirLock> Shared(std::chrono::milliseconds wait);

  CacheDirLock(CacheDirLock&& other) noexcept;
  CacheDirLock& operator=(CacheDirLock&&) = delete;
  ~CacheDirLock();

 private:
  explicit CacheDirLock(int fd) : fd_(fd) {}
  // Opens the lock file (creating it for an exclusive lock) and flocks it.
  static std::optional<CacheDirLock> Take(int operation, std::chrono::milliseconds wait);
  int fd_;
};

// Writes all of `data` to `fd` (through short writes and signals); false on
// any failure.
bool WriteAll(int fd, const char* data, size_t size);

// mkdir -p; true when `dir` exists as a directory afterwards.
bool MakeDirectories(const std::string& dir);

// An open regular file. Opening never blocks (a FIFO), follows a symbolic
// link only when asked (never for the files this program writes), and
// refuses anything that is not a regular file or is larger than its cap.
class ReadOnlyFile {
 public:
  enum class Status { Ok, Missing, Unusable };
  // `problem`, when given, tells why a file is Unusable.
  static Status Open(const std::string& path, size_t maxBytes, ReadOnlyFile& file,
                     bool followLinks = false, std::string* problem = nullptr);

  ReadOnlyFile() = default;
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ~ReadOnlyFile();

  size_t size() const { return size_; }
  // Reads the whole file; false on a short read.
  bool ReadAll(std::string& out) const;
  // Reads up to `n` bytes from `offset` (fewer only at the file's end, as
  // it was opened or since); -1 on an error.
  ssize_t ReadAt(char* out, size_t n, uint64_t offset) const;
  // The whole file's bytes, read-only, with a NUL byte right after its end,
  // held as SetCacheHold says; whatever another program does to the file
  // later, these bytes stay as they were checked. The returned owner frees
  // them. Null on failure (a file cut short since it was opened).
  // *inPlace, when given, tells whether they are the file mapped in place.
  std::shared_ptr<const void> Snapshot(const char** data, bool* inPlace = nullptr) const;

  uint64_t inode = 0;
  int64_t mtimeNs = 0;

 private:
  int fd_ = -1;
  size_t size_ = 0;
};

// How ReadOnlyFile::Snapshot holds a file's bytes.
enum class CacheHold {
  // A private copy: for processes that live long (the window, a stream).
  PrivateCopy,
  // A mapping of the file under a read lease, which makes any program that
  // opens the file for writing or truncates it wait until this process lets
  // go of the bytes (at the latest, the kernel's lease-break time): nothing
  // to copy, for a process that answers once and ends. Where no lease can be
  // had (a file open for writing, a file system without leases), a private
  // copy. Ignores SIGIO, by which the kernel tells of such a writer.
  LeasedMapping,
};
// Process-wide; PrivateCopy unless set.
void SetCacheHold(CacheHold hold);

// What the set marker records of each file of a committed set.
struct CacheFileStamp {
  uint64_t size = 0;
  uint64_t inode = 0;
  int64_t mtimeNs = 0;
  uint64_t hash = 0;
  // The file as found: the same inode and modification time (what a rename
  // keeps) or, for a copied directory, the same bytes.
  bool Matches(const ReadOnlyFile& file, const char* data) const;
};

struct CacheSetMarker {
  CacheFileStamp mac, addr, version;
  std::string Format() const;
  static std::optional<CacheSetMarker> Parse(std::string_view text);
};

// One cache file being written: a unique temporary beside its final name,
// created exclusively (never through a link), removed unless committed.
class PendingCacheFile {
 public:
  explicit PendingCacheFile(const char* name);
  PendingCacheFile(const PendingCacheFile&) = delete;
  PendingCacheFile& operator=(const PendingCacheFile&) = delete;
  ~PendingCacheFile();

  // Creates the temporary, writes `bytes`, flushes them to disk and closes it.
  bool Write(std::string_view bytes);
  // Renames the written file into place.
  bool Commit();
  const CacheFileStamp& stamp() const { return stamp_; }

 private:
  std::string final_;
  std::string temp_;
  CacheFileStamp stamp_;
  bool written_ = false;
};

// Writes one file of the cache directory (created when missing) by temporary
// file and rename. The caller holds the lock exclusively.
bool WriteCacheFile(const char* name, std::string_view bytes);

// Removes what killed updates left: temporaries of the cache files and the
// listings of processes that no longer run. The caller holds the lock
// exclusively, so no live writer owns a temporary.
void RemoveStaleTemporaries();

// Flushes the directory itself, so that renames last through a power loss.
void SyncCacheDir();

// A file written with the set.
struct CacheFileBytes {
  const char* name;
  std::string_view bytes;
};

// Writes the store and the version text as the three cache files and their
// marker, and the files `alongside` (the MA-L table made from the same
// listing), all or nothing: every file is written before any is renamed into
// place. The caller holds the lock exclusively. On failure only this call's
// temporaries are removed: the files in place stay whole.
bool CommitCacheSet(const StoreSnapshot& store, std::string_view version,
                    std::initializer_list<CacheFileBytes> alongside = {});
