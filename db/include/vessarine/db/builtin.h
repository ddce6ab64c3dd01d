// The built-in copy of the registry, generated at build time from the 2011
// listing by the project's own conversion (tools/gen_builtin.cpp). It is used
// in place, from the program's read-only data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vessarine/store/store.h"

// The vendor table: builtinCount records of 114 bytes, NUL-filled.
extern const int32_t builtinCount;
extern const char builtinMacTable[][kRecordSize];

// The address text, every line end written as '>', NUL-terminated.
extern const char builtinAddrText[];
extern const size_t builtinAddrLength;
