// The cache directory and the name of every file this program keeps there.
#pragma once

#include <string>

// The store's three files and their set marker.
inline constexpr const char* kCacheMacFile = "~cmpymac~";
inline constexpr const char* kCacheAddrFile = "~cmpyaddr~";
inline constexpr const char* kCacheVersionFile = "~macUpDate~";
inline constexpr const char* kCacheSetFile = "~cmpyset~";
// Added to those four names for the set in place while a commit replaces it
// (hard links): what the next start loads when a commit died midway.
inline constexpr const char* kPreviousSetSuffix = ".prev";
// The lock that serializes rewrites; its content is never used.
inline constexpr const char* kCacheLockFile = "~lock~";
// A downloaded listing, "vessarine~.<pid>.<n>" while its update runs.
inline constexpr const char* kListingTempFile = "vessarine~";
// The registry tables, in the registries' order (MA-L, MA-M, MA-S, IAB, CID).
inline constexpr const char* kRegistryTableFiles[5] = {"ma-l.regtable", "ma-m.regtable", "ma-s.regtable",
                                                      "iab.regtable", "cid.regtable"};
// The ETag and Last-Modified of the download each table was made from, for
// the next update's conditional request; same order.
inline constexpr const char* kRegistryValidatorFiles[5] = {"ma-l.validators", "ma-m.validators", "ma-s.validators",
                                                          "iab.validators", "cid.validators"};

// $XDG_CACHE_HOME/vessarine, or ~/.cache/vessarine when XDG_CACHE_HOME is
// unset or empty. Not created here.
std::string CacheDir();
// CacheDir() + "/" + name.
std::string CachePath(const char* name);
