#include "vessarine/db/cache_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "vessarine/store/bytes.h"


namespace {

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Takes the flock, trying again every few milliseconds until `wait` is over.
bool LockWithin(int fd, int operation, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::optional<int> OpenLockFile(bool create) {
  const std::string path = CachePath(kCacheLockFile);
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), create ? flags | O_CREAT : flags, 0644);
  // A reader that may not create the file still locks an existing one.
  if (fd < 0 && !create && errno == ENOENT) fd = open(path.c_str(), flags | O_CREAT, 0644);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  return fd;
}

}  // namespace

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// ---- lock ----------------------------------------------------------------

std::optional<CacheDirLock> CacheDirLock::Take(int operation, std::chrono::milliseconds wait) {
  std::optional<int> fd = OpenLockFile(operation == LOCK_EX);
  if (!fd) return std::nullopt;
  if (!LockWithin(*fd, operation, wait)) {
    close(*fd);
    return std::nullopt;
  }
  return CacheDirLock(*fd);
}

std::optional<CacheDirLock> CacheDirLock::Exclusive(std::chrono::milliseconds wait) {
  if (!MakeDirectories(CacheDir())) return std::nullopt;
  return Take(LOCK_EX, wait);
}

std::optional<CacheDirLock> CacheDirLock::Shared(std::chrono::milliseconds wait) { return Take(LOCK_SH, wait); }

CacheDirLock::CacheDirLock(CacheDirLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

CacheDirLock::~CacheDirLock() {
  if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the flock
}

bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) return false;
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') {
      const std::string part = dir.substr(0, pos);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- reading -------------------------------------------------------------

ReadOnlyFile::Status ReadOnlyFile::Open(const std::string& path, size_t maxBytes, ReadOnlyFile& file,
                                        bool followLinks, std::string* problem) {
  auto unusable = [problem](std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return Status::Unusable;
  };
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    if (errno == ENOENT) return Status::Missing;
    return unusable(errno == ELOOP && !followLinks ? "is a symbolic link"
                                                   : std::string("cannot be opened: ") + std::strerror(errno));
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxBytes) {
    const bool regular = S_ISREG(st.st_mode);
    close(fd);
    return unusable(regular ? "is larger than " + std::to_string(maxBytes >> 20) + " MiB" : "is not a regular file");
  }
  ReadOnlyFile opened;
  opened.fd_ = fd;
  opened.size_ = static_cast<size_t>(st.st_size);
  opened.inode = st.st_ino;
  opened.mtimeNs = MtimeNs(st);
  file = std::move(opened);
  return Status::Ok;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept { *this = std::move(other); }

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    inode = other.inode;
    mtimeNs = other.mtimeNs;
  }
  return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) close(fd_);
}

bool ReadOnlyFile::ReadAll(std::string& out) const {
  out.resize(size_);
  return ReadAt(out.data(), size_, 0) == static_cast<ssize_t>(size_);
}

ssize_t ReadOnlyFile::ReadAt(char* out, size_t n, uint64_t offset) const {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = pread(fd_, out + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

namespace {

std::atomic<CacheHold> g_cacheHold{CacheHold::PrivateCopy};

// `length` bytes (a multiple of the page size) of zero-filled, read-only
// address space starting on a 2 MiB boundary, as the kernel places a file
// mapped on its own: the page cache holds a file in folios of up to that
// size, and one fault maps as much of a folio as lines up with the mapping,
// so a file read through whole faults a few dozen times rather than once
// every 64 KiB. Null when there is no room.
void* AlignedReservation(size_t length) {
  constexpr size_t kAlign = size_t{2} << 20;
  void* wide = mmap(nullptr, length + kAlign, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (wide == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(wide);
  const uintptr_t aligned = (start + kAlign - 1) & ~(kAlign - 1);
  if (aligned != start) munmap(wide, aligned - start);
  munmap(reinterpret_cast<void*>(aligned + length), start + kAlign - aligned);
  return reinterpret_cast<void*>(aligned);
}

// The file mapped under a read lease: an anonymous, zero-filled reservation
// one byte longer than the file with the file mapped over its start, so the
// byte after its end is always a NUL. Null when no lease can be had, or the
// file changed size before it was granted.
std::shared_ptr<const void> LeasedMapping(int fileFd, size_t size, const char** data) {
  const int fd = fcntl(fileFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0 || fstat(fd, &st) != 0 || static_cast<size_t>(st.st_size) != size) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    close(fd);
    return nullptr;
  }
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t length = (size + 1 + page - 1) / page * page;
  void* base = AlignedReservation(length);
  if (base == nullptr || (size > 0 && mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0) == MAP_FAILED)) {
    if (base != nullptr) munmap(base, length);
    close(fd);
    return nullptr;
  }
  *data = static_cast<const char*>(base);
  return std::shared_ptr<const void>(base, [length, fd](const void* p) {
    munmap(const_cast<void*>(p), length);
    close(fd);  // and with it the lease
  });
}

}  // namespace

void SetCacheHold(CacheHold hold) {
  if (hold == CacheHold::LeasedMapping) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGIO, &ignore, nullptr);
  }
  g_cacheHold.store(hold);
}

std::shared_ptr<const void> ReadOnlyFile::Snapshot(const char** data, bool* inPlace) const {
  if (g_cacheHold.load() == CacheHold::LeasedMapping) {
    if (auto mapping = LeasedMapping(fd_, size_, data)) {
      if (inPlace != nullptr) *inPlace = true;
      return mapping;
    }
  }
  if (inPlace != nullptr) *inPlace = false;
  // A private copy, not a mapping of the file: whatever another program does
  // to the file later (a copy over it, a truncation), the process goes on
  // answering from the bytes it checked, and a truncated file can never
  // fault. Anonymous zero-filled pages one byte longer than the file, so the
  // byte after its end is a NUL; populated up front, which costs less than
  // faulting them in one by one as the read fills them.
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t length = (size_ + 1 + page - 1) / page * page;
  void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  std::shared_ptr<const void> owner(base, [length](const void* p) { munmap(const_cast<void*>(p), length); });
  madvise(base, length, MADV_HUGEPAGE);
  char* out = static_cast<char*>(base);
  for (size_t done = 0; done < size_;) {
    const ssize_t n = pread(fd_, out + done, size_ - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;  // cut short since it was opened
    done += static_cast<size_t>(n);
  }
  mprotect(base, length, PROT_READ);
  *data = out;
  return owner;
}

// ---- set marker ----------------------------------------------------------

bool CacheFileStamp::Matches(const ReadOnlyFile& file, const char* data) const {
  if (size != file.size()) return false;
  if (inode == file.inode && mtimeNs == file.mtimeNs) return true;
  return hash == Hash64(data, file.size());
}

namespace {
constexpr char kMarkerHeader[] = "vessarine cache set 1\n";
constexpr char kStampFormat[] = "%s %" PRIu64 " %" PRIu64 " %" PRId64 " %016" PRIx64 "\n";
}  // namespace

std::string CacheSetMarker::Format() const {
  std::string text = kMarkerHeader;
  const std::pair<const char*, const CacheFileStamp*> files[] = {
      {kCacheMacFile, &mac}, {kCacheAddrFile, &addr}, {kCacheVersionFile, &version}};
  for (const auto& [name, s] : files) {
    char line[160];
    std::snprintf(line, sizeof line, kStampFormat, name, s->size, s->inode, s->mtimeNs, s->hash);
    text += line;
  }
  return text;
}

std::optional<CacheSetMarker> CacheSetMarker::Parse(std::string_view text) {
  const std::string_view header = kMarkerHeader;
  if (text.substr(0, header.size()) != header) return std::nullopt;
  std::string rest(text.substr(header.size()));
  CacheSetMarker marker;
  CacheFileStamp* stamps[] = {&marker.mac, &marker.addr, &marker.version};
  const char* names[] = {kCacheMacFile, kCacheAddrFile, kCacheVersionFile};
  size_t at = 0;
  for (int k = 0; k < 3; ++k) {
    const size_t end = rest.find('\n', at);
    if (end == std::string::npos) return std::nullopt;
    const std::string line = rest.substr(at, end - at);
    char name[32] = {};
    CacheFileStamp s;
    int used = 0;
    if (std::sscanf(line.c_str(), "%31s %" SCNu64 " %" SCNu64 " %" SCNd64 " %16" SCNx64 "%n", name, &s.size,
                    &s.inode, &s.mtimeNs, &s.hash, &used) != 5 ||
        static_cast<size_t>(used) != line.size() || std::strcmp(name, names[k]) != 0) {
      return std::nullopt;
    }
    *stamps[k] = s;
    at = end + 1;
  }
  if (at != rest.size()) return std::nullopt;
  return marker;
}

// ---- writing -------------------------------------------------------------

PendingCacheFile::PendingCacheFile(const char* name) : final_(CachePath(name)) {}

PendingCacheFile::~PendingCacheFile() {
  if (!temp_.empty()) unlink(temp_.c_str());
}

bool PendingCacheFile::Write(std::string_view bytes) {
  if (!temp_.empty()) return false;
  // mkostemp creates the file exclusively: an existing file or link of that
  // name is never opened.
  std::string name = final_ + ".new.XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  temp_ = name;
  bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
  struct stat st {};
  ok = ok && fstat(fd, &st) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok) return false;
  stamp_.size = bytes.size();
  stamp_.inode = st.st_ino;
  stamp_.mtimeNs = MtimeNs(st);
  stamp_.hash = Hash64(bytes.data(), bytes.size());
  written_ = true;
  return true;
}

bool PendingCacheFile::Commit() {
  if (!written_ || rename(temp_.c_str(), final_.c_str()) != 0) return false;
  temp_.clear();
  return true;
}

bool WriteCacheFile(const char* name, std::string_view bytes) {
  if (!MakeDirectories(CacheDir())) return false;
  PendingCacheFile file(name);
  if (!file.Write(bytes) || !file.Commit()) return false;
  SyncCacheDir();
  return true;
}

void SyncCacheDir() {
  const int fd = open(CacheDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

void RemoveStaleTemporaries() {
  DIR* dir = opendir(CacheDir().c_str());
  if (dir == nullptr) return;
  const std::string listingPrefix = std::string(kListingTempFile) + ".";
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    // Temporaries of cache files: "<name>.new.XXXXXX" (and "<name>.new" of
    // earlier versions).
    bool stale = name.find(".new.") != std::string_view::npos || name.ends_with(".new");
    if (name.substr(0, listingPrefix.size()) == listingPrefix) {
      // vessarine~.<pid>.<n>: a download of a process that has ended.
      const long pid = std::strtol(entry->d_name + listingPrefix.size(), nullptr, 10);
      stale = pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    // unlinkat removes a link itself, never what it points to.
    if (stale) unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

bool CommitCacheSet(const StoreSnapshot& store, std::string_view version,
                    std::initializer_list<CacheFileBytes> alongside) {
  if (!MakeDirectories(CacheDir())) return false;
  PendingCacheFile table(kCacheMacFile), text(kCacheAddrFile), versionFile(kCacheVersionFile);
  PendingCacheFile marker(kCacheSetFile);
  if (!table.Write({store.macList, static_cast<size_t>(store.count) * kRecordSize}) ||
      !text.Write({store.addrList, store.addrLength}) || !versionFile.Write(version)) {
    return false;
  }
  std::list<PendingCacheFile> others;
  for (const CacheFileBytes& file : alongside) {
    if (!others.emplace_back(file.name).Write(file.bytes)) return false;
  }
  // A rename fails only where a directory stands in a file's place: found
  // now, before anything is replaced, it leaves the set in place whole.
  for (const char* name : {kCacheSetFile, kCacheMacFile, kCacheAddrFile, kCacheVersionFile}) {
    struct stat st {};
    if (lstat(CachePath(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  }
  // The marker names the new files before any of them is in place: a kill
  // among the renames below leaves files that do not match it, which the
  // loader refuses, never a mix that looks whole.
  const CacheSetMarker set{table.stamp(), text.stamp(), versionFile.stamp()};
  bool ok = marker.Write(set.Format()) && marker.Commit() && table.Commit() && text.Commit() &&
            versionFile.Commit();
  for (PendingCacheFile& other : others) ok = ok && other.Commit();
  SyncCacheDir();
  return ok;
}
