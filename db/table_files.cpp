#include "vessarine/db/table_files.h"

#include <utility>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"

namespace db {

FileSnapshot::Status FileSnapshot::Take(const std::string& path, size_t cap, FileSnapshot* out, std::string* problem) {
  ReadOnlyFile file;
  switch (ReadOnlyFile::Open(path, cap, file, false, problem)) {
    case ReadOnlyFile::Status::Missing:
      return Status::Absent;
    case ReadOnlyFile::Status::Unusable:
      return Status::Refused;
    case ReadOnlyFile::Status::Ok:
      break;
  }
  if (file.size() == 0) {
    *problem = "is empty";
    return Status::Refused;
  }
  const char* data = nullptr;
  bool inPlace = false;
  std::shared_ptr<const void> bytes = file.Snapshot(&data, &inPlace);
  if (!bytes) {
    *problem = "cannot be read";
    return Status::Refused;
  }
  out->bytes_ = std::move(bytes);
  out->data_ = data;
  out->size_ = file.size();
  out->inPlace_ = inPlace ? std::make_shared<const ReadOnlyFile>(std::move(file)) : nullptr;
  return Status::Ok;
}

const char* FileSnapshot::Read(uint64_t offset, size_t n, char* buffer) const {
  if (!inPlace_) return static_cast<const char*>(data_) + offset;
  return inPlace_->ReadAt(buffer, n, offset) == static_cast<ssize_t>(n) ? buffer : nullptr;
}

bool ReadRegularFile(const std::string& path, size_t cap, std::string* bytes, std::string* problem) {
  ReadOnlyFile file;
  switch (ReadOnlyFile::Open(path, cap, file, true, problem)) {
    case ReadOnlyFile::Status::Missing:
      *problem = "does not exist";
      return false;
    case ReadOnlyFile::Status::Unusable:
      return false;
    case ReadOnlyFile::Status::Ok:
      break;
  }
  if (!file.ReadAll(*bytes)) {
    *problem = "cannot be read whole";
    return false;
  }
  return true;
}

bool WriteCacheFileAtomically(const std::string& name, std::string_view bytes, std::string* error) {
  if (WriteCacheFile(name.c_str(), bytes)) return true;
  *error = "cannot write " + CachePath(name.c_str());
  return false;
}

}  // namespace db
