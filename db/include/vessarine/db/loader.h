// Start-up loading of the store: the cache files when they hold a sound,
// complete set, otherwise the built-in copy of the registry.
#pragma once

#include <cstdint>
#include <string>

#include "vessarine/db/cache_dir.h"
#include "vessarine/store/store.h"

// The version text shown in box 1009 (GBK).
extern std::string g_strDbVersion;
// 1 after LoadDatabase when the store came from the cache files, else 0.
extern uint8_t g_bCachePresent;

// Fills the store (replacing whatever it holds) and may set g_strDbVersion.
// Cache files that are missing, damaged or not one complete set count as
// missing: the built-in copy is loaded and nothing is reported.
void LoadDatabase();

// The built-in copy, in the program's read-only data.
StorePtr BuiltinStore();
// Puts the built-in copy in place; the version text is left as it is.
void LoadBuiltinDatabase();

// Whether a vendor table and an address text can be read safely and, unless
// `provenSet` (their set marker matched), belong together. See loader.cpp.
bool CacheTablesFit(const char* mac, int32_t count, const char* addr, size_t addrLength,
                    bool provenSet = false);
