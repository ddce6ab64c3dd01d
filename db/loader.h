// Start-up loading of the store: the cache files when both table files are
// usable, otherwise the built-in copy of the registry.
#pragma once

#include <cstdint>
#include <string>

// Names of the cache files and the temporary listing file; all of them live
// in CacheDir().
inline constexpr const char* kCacheMacFile = "~cmpymac~";
inline constexpr const char* kCacheAddrFile = "~cmpyaddr~";
inline constexpr const char* kCacheVersionFile = "~macUpDate~";
inline constexpr const char* kListingTempFile = "vessarine~";

// The version text shown in box 1009 (GBK).
extern std::string g_strDbVersion;
// 1 after LoadDatabase when the store came from the cache files, else 0.
extern uint8_t g_bCachePresent;

// $XDG_CACHE_HOME/vessarine, or ~/.cache/vessarine when XDG_CACHE_HOME is
// unset or empty. Not created here.
std::string CacheDir();
// CacheDir() + "/" + name.
std::string CachePath(const char* name);

// Fills the store (replacing whatever it holds) and may set g_strDbVersion.
// Damaged cache files (a record without a NUL in its name field, offsets that
// decrease or point past the address text, a short read, a non-regular file)
// count as missing: the built-in copy is loaded and nothing is reported.
void LoadDatabase();

// Loads just the built-in copy; version text untouched.
void LoadBuiltinDatabase();
