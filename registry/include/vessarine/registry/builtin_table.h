// The MA-L table built into the program, made at build time from the 2011
// listing by tools/gen_registry_table.cpp in the same image format as the
// cache files, and used in place from read-only data.
#pragma once

#include <cstddef>

namespace registry {
extern const char kBuiltinMaLImage[];
extern const size_t kBuiltinMaLImageSize;
}  // namespace registry
