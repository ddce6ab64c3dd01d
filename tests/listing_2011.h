// Figures of the 2011 registry listing (data/ieee-oui-2011-07.txt) and of
// the store converted from it: the one place the tests take them from.
// Header-only and free of any test framework, for every test program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace listing2011 {

inline constexpr char kFileName[] = "ieee-oui-2011-07.txt";
inline constexpr size_t kFileBytes = 2436815;

// Vendor records (one per "(base 16)" entry) and bytes of address text.
inline constexpr int32_t kRecords = 15199;
inline constexpr int32_t kLastRecord = kRecords - 1;
inline constexpr size_t kAddrLength = 1018044;
// The built-in copy keeps the address text in pieces of this size; piece 0
// ends after the "H" of a "HONG KONG" line.
inline constexpr size_t kAddrPieceSize = 64600;

// "080030" is registered three times, at these records and the next two.
inline constexpr int32_t kTripleOuiFirst = 12736;
// The longest company text: OUI "886B76".
inline constexpr int32_t kLongestTextRecord = 14031;
inline constexpr size_t kLongestTextBytes = 282;

}  // namespace listing2011

// Whether this build made its built-in copy from the 2011 listing (the build
// compares the listing's SHA-256). Tests of the built-in copy's figures run
// only then.
#ifndef VESSARINE_BUILTIN_IS_2011
#error "VESSARINE_BUILTIN_IS_2011 comes from the build (tests/CMakeLists.txt)"
#endif
inline constexpr bool kBuiltinIs2011 = VESSARINE_BUILTIN_IS_2011 != 0;
