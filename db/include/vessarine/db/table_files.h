// File access for the registry tables, by the same rules as the store's
// cache files: never follow a link, never block on a FIFO, only regular
// files of bounded size, and replace a file only by temporary file and
// rename so a reader sees the old table or the new one, never a torn one.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "vessarine/db/cache_dir.h"
#include "vessarine/listing/registries.h"

namespace db {

// Registry `r`'s table file in the cache directory.
inline const char* TableFile(listing::Registry r) { return kRegistryTableFiles[static_cast<size_t>(r)]; }

// Largest table file read.
inline constexpr size_t kMaxTableFileSize = 256u << 20;

// A read-only mapping of a whole file, unmapped with its last holder.
class MappedFile {
 public:
  const void* data() const { return data_; }
  size_t size() const { return size_; }

  enum class Status { Ok, Absent, Refused };
  // Maps `path`; Refused (with the reason in *problem) for anything but a
  // readable regular file of 1..cap bytes.
  static Status Map(const std::string& path, size_t cap, MappedFile* out, std::string* problem);

 private:
  std::shared_ptr<const void> mapping_;
  const void* data_ = nullptr;
  size_t size_ = 0;
};

// Reads a whole regular file of at most `cap` bytes; false with the reason.
bool ReadRegularFile(const std::string& path, size_t cap, std::string* bytes, std::string* problem);

// Writes `bytes` as `name` in the cache directory (created if missing) by a
// new temporary file, fsync and rename. The caller holds the cache
// directory's exclusive lock.
bool WriteCacheFileAtomically(const std::string& name, std::string_view bytes, std::string* error);

}  // namespace db
