#include "vessarine/db/table_files.h"

#include <utility>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"

namespace db {

MappedFile::Status MappedFile::Map(const std::string& path, size_t cap, MappedFile* out, std::string* problem) {
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
  std::shared_ptr<const void> mapping = file.Map(&data);
  if (!mapping) {
    *problem = "cannot be read";
    return Status::Refused;
  }
  out->mapping_ = std::move(mapping);
  out->data_ = data;
  out->size_ = file.size();
  return Status::Ok;
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
