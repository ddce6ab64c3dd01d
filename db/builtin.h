// The built-in copy of the registry, generated at build time from the 2011
// listing by the project's own conversion (tools/gen_builtin.cpp).
#pragma once

#include <cstdint>

// Vendor records, each the record's text up to its first NUL.
extern const int32_t builtinCount;
extern const char* const builtinMacList[];

// The address text (every line end written as '>'), cut into pieces of
// 64,600 bytes: companyAddrList0 ... companyAddrList<n-1>, listed in order.
extern const int builtinAddrPieceCount;
extern const char* const builtinAddrPieces[];
extern const uint32_t builtinAddrPieceSizes[];
