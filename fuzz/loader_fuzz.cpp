// Cache loading: any bytes in the cache files load as a store its readers
// can use, or give the built-in copy. Input: three little-endian 32-bit
// lengths, then the table, the text, the version and (the rest) the marker.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "fuzz/fuzz_support.h"
#include "vessarine/query/queries.h"
#include "vessarine/startup/startup.h"

namespace {

void Put(const std::string& dir, const char* name, const uint8_t* data, size_t size) {
  const std::string path = dir + "/" + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/vessarine-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    setenv("XDG_CACHE_HOME", pattern, 1);
    const std::string d = std::string(pattern) + "/vessarine";
    MakeDirectories(d);
    return d;
  }();
  if (size < 12) return 0;
  uint32_t lengths[3];
  std::memcpy(lengths, data, 12);
  data += 12;
  size -= 12;
  const char* names[] = {kCacheMacFile, kCacheAddrFile, kCacheVersionFile};
  for (int k = 0; k < 3; ++k) {
    const size_t n = lengths[k] < size ? lengths[k] : size;
    Put(dir, names[k], data, n);
    data += n;
    size -= n;
  }
  if (size > 0) {
    Put(dir, kCacheSetFile, data, size);
  } else {
    unlink((dir + "/" + kCacheSetFile).c_str());
  }

  StartUpDatabase();
  if (g_bCachePresent == 0) {
    if (companyCount != BuiltinStore()->count) std::abort();
    return 0;  // the built-in copy: nothing of the input reached the store
  }
  CheckStoreInPlace();
  LookupMac("00:00:00");
  ListMacs();
  SearchCompanies("a", {}, true);
  return 0;
}
