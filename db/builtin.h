// The built-in copy of the registry, generated at build time from the 2011
// listing by the project's own conversion (tools/gen_builtin.cpp).
#pragma once

#include <cstdint>

// Vendor records: each record's text up to its first NUL, NUL-terminated,
// back to back (a blob rather than a table of pointers, which would need a
// relocation per record at every start).
extern const int32_t builtinCount;
extern const char builtinMacList[];

// The address text (every line end written as '>'), cut into pieces of
// 64,600 bytes: companyAddrList0 ... companyAddrList<n-1>, listed in order.
extern const int builtinAddrPieceCount;
extern const char* const builtinAddrPieces[];
extern const uint32_t builtinAddrPieceSizes[];
