#include "db/loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "db/builtin.h"
#include "db/store.h"
#include "db/texts.h"

std::string g_strDbVersion;
uint8_t g_bCachePresent = 0;

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// Reads a whole regular file into a new C-heap block with a NUL after it. Null when the file cannot be opened, is not a regular file, or
// cannot be read whole.
char* ReadWholeFile(const std::string& path, size_t* size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  char* block = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_t length = static_cast<size_t>(st.st_size);
    block = static_cast<char*>(std::malloc(length + 1));
    size_t got = 0;
    while (block != nullptr && got < length) {
      ssize_t r = ::read(fd, block + got, length - got);
      if (r <= 0) {
        std::free(block);
        block = nullptr;
        break;
      }
      got += static_cast<size_t>(r);
    }
    if (block != nullptr) {
      block[length] = '\0';
      *size = length;
    }
  }
  ::close(fd);
  return block;
}

// The readers of the store rely on a NUL in every record's name field and on
// block offsets that never decrease and stay inside the address text.
bool CacheTablesFit(const char* mac, int32_t count, const char* addr, size_t addrLength) {
  uint32_t previous = 0;
  for (int32_t i = 0; i < count; ++i) {
    const char* record = mac + static_cast<size_t>(i) * kRecordSize;
    if (std::memchr(record + kNameOffset, '\0', kNameFieldSize) == nullptr) return false;
    uint32_t offset = static_cast<uint32_t>(HexToInt(record + 6, 8));
    if (offset < previous || offset > addrLength) return false;
    previous = offset;
  }
  return std::memchr(addr, '\0', addrLength) == nullptr;
}

bool LoadCacheFiles() {
  const std::string macPath = CachePath(kCacheMacFile);
  const std::string addrPath = CachePath(kCacheAddrFile);
  // Both existence tests run, the table file's first.
  bool macExists = Exists(macPath);
  bool addrExists = Exists(addrPath);
  if (!macExists || !addrExists) return false;

  size_t macSize = 0;
  char* mac = ReadWholeFile(macPath, &macSize);
  if (mac == nullptr) return false;
  size_t addrSize = 0;
  char* addr = ReadWholeFile(addrPath, &addrSize);
  if (addr == nullptr) {
    std::free(mac);
    return false;
  }
  // An incomplete last record is dropped.
  int32_t count = static_cast<int32_t>(macSize / kRecordSize);
  if (!CacheTablesFit(mac, count, addr, addrSize)) {
    std::free(mac);
    std::free(addr);
    return false;
  }
  ReplaceStore(mac, addr, count);

  size_t versionSize = 0;
  char* version = ReadWholeFile(CachePath(kCacheVersionFile), &versionSize);
  if (version == nullptr) {
    g_strDbVersion = kVersionUnknown;
  } else {
    g_strDbVersion = version;  // up to its first NUL
    std::free(version);
  }
  return true;
}

}  // namespace

std::string CacheDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/vessarine";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.cache/vessarine";
}

std::string CachePath(const char* name) { return CacheDir() + "/" + name; }

void LoadBuiltinDatabase() {
  const int32_t count = builtinCount;
  // calloc's zero pages give the NUL fill without touching the memory.
  char* mac = static_cast<char*>(std::calloc(static_cast<size_t>(count), kRecordSize));
  char* addr = static_cast<char*>(std::calloc(static_cast<size_t>(count), kAddrBytesPerRecord));
  const char* text = builtinMacList;
  for (int32_t i = 0; i < count; ++i) {
    size_t length = std::strlen(text);
    std::memcpy(mac + static_cast<size_t>(i) * kRecordSize, text, length);
    text += length + 1;
  }
  size_t at = 0;
  for (int k = 0; k < builtinAddrPieceCount; ++k) {
    std::memcpy(addr + at, builtinAddrPieces[k], builtinAddrPieceSizes[k]);
    at += builtinAddrPieceSizes[k];
  }
  ReplaceStore(mac, addr, count);
}

void LoadDatabase() {
  g_bCachePresent = 1;
  if (!LoadCacheFiles()) {
    g_bCachePresent = 0;
    LoadBuiltinDatabase();
  }
}
