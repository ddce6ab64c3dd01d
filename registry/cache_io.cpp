#include "registry/cache_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "db/loader.h"

namespace registry {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool MakeDirs(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return false;
  if (!MakeDirs(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

MappedFile::Status MappedFile::Map(const std::string& path, size_t cap, MappedFile* out, std::string* problem) {
  int raw = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    if (errno == ENOENT) return Status::Absent;
    *problem = errno == ELOOP ? "is a symbolic link" : "cannot be opened: " + ErrnoText(errno);
    return Status::Refused;
  }
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *problem = "is not a regular file";
    return Status::Refused;
  }
  if (st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) > cap) {
    *problem = st.st_size <= 0 ? "is empty" : "is too large";
    return Status::Refused;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd.get(), 0);
  if (data == MAP_FAILED) {
    *problem = "cannot be read: " + ErrnoText(errno);
    return Status::Refused;
  }
  *out = MappedFile();
  out->data_ = data;
  out->size_ = size;
  return Status::Ok;
}

bool ReadRegularFile(const std::string& path, size_t cap, std::string* bytes, std::string* problem) {
  int raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) {
    *problem = "cannot be opened: " + ErrnoText(errno);
    return false;
  }
  Fd fd(raw);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *problem = "is not a regular file";
    return false;
  }
  if (static_cast<unsigned long long>(st.st_size) > cap) {
    *problem = "is larger than " + std::to_string(cap >> 20) + " MiB; not a registry listing";
    return false;
  }
  bytes->assign(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < bytes->size()) {
    ssize_t n = ::read(fd.get(), bytes->data() + got, bytes->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *problem = n < 0 ? "cannot be read: " + ErrnoText(errno) : "shrank while being read";
      return false;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteCacheFileAtomically(const std::string& name, std::string_view bytes, std::string* error) {
  const std::string dir = CacheDir();
  if (!MakeDirs(dir)) {
    *error = "cannot create the cache directory " + dir + ": " + ErrnoText(errno);
    return false;
  }
  std::random_device seed;
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
    temp = dir + "/." + name + "." + std::to_string(seed()) + ".tmp";
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (raw < 0 && errno != EEXIST) break;
  }
  if (raw < 0) {
    *error = "cannot create a temporary file in " + dir + ": " + ErrnoText(errno);
    return false;
  }
  bool ok;
  {
    Fd fd(raw);
    ok = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  }
  const std::string target = dir + "/" + name;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    *error = "cannot write " + target + ": " + ErrnoText(errno);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the directory.
  int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace registry
