// File access for the registry tables, by the same rules as the store's
// cache files: never follow a link, never block on a FIFO, only regular
// files of bounded size, and replace a file only by temporary file and
// rename so a reader sees the old table or the new one, never a torn one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vessarine/db/cache_dir.h"
#include "vessarine/listing/registries.h"

class ReadOnlyFile;

namespace db {

// Registry `r`'s table file in the cache directory.
inline const char* TableFile(listing::Registry r) { return kRegistryTableFiles[static_cast<size_t>(r)]; }

// Largest table file read.
inline constexpr size_t kMaxTableFileSize = 256u << 20;

// A whole file's bytes as they were when taken (ReadOnlyFile::Snapshot: a
// private copy, or a mapping under a read lease), freed with its last holder.
class FileSnapshot {
 public:
  const void* data() const { return data_; }
  size_t size() const { return size_; }

  enum class Status { Ok, Absent, Refused };
  // Takes `path`'s bytes; Refused (with the reason in *problem) for anything but a
  // readable regular file of 1..cap bytes.
  static Status Take(const std::string& path, size_t cap, FileSnapshot* out, std::string* problem);

  // `n` bytes from `offset`, to be checked: read from the file into
  // `buffer` when its bytes are mapped in place (a check then touches none
  // of the mapping's pages), else a pointer into the copy. Null when the
  // file cannot be read.
  const char* Read(uint64_t offset, size_t n, char* buffer) const;

 private:
  std::shared_ptr<const void> bytes_;
  std::shared_ptr<const ReadOnlyFile> inPlace_;  // open while mapped in place
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
