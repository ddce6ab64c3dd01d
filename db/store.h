// The in-memory vendor record store: a table of fixed 114-byte vendor records
// and one address text holding every record's address block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>

// Width of one vendor record: 6 OUI digits, 8 offset digits, 100 bytes of name.
inline constexpr int kRecordSize = 114;
inline constexpr int kNameOffset = 14;
inline constexpr int kNameFieldSize = 100;
// Address-text bytes reserved per record when a store is built.
inline constexpr int kAddrBytesPerRecord = 200;

// The store. Blocks come from the C heap. Readers hold StoreLock() shared;
// whoever replaces or frees the store holds it exclusively, so a query never
// sees a freed block or a count larger than its table.
extern char* companyMacList;
extern char* companyAddrList;
extern int32_t companyCount;

std::shared_mutex& StoreLock();

// Puts a new store in place of the current one, freeing the old blocks, under
// the exclusive lock. Takes ownership of both blocks (C heap).
void ReplaceStore(char* macList, char* addrList, int32_t count);

// Frees both blocks (address text first) and leaves an empty store.
void ReleaseStore();

// Decodes `length` hexadecimal digits of either case; any other byte counts
// as the digit 0. 32-bit arithmetic: high digits past 8 are shifted out.
int32_t HexToInt(const char* text, int length);

// The company text of record `index`: the name with its line feed, then each
// address line ended by a line feed (a '>' line end in the store becomes a
// line feed). Returned whole, whatever its length. Caller holds StoreLock()
// at least shared, and 0 <= index < companyCount.
std::string GetCompanyText(int32_t index);
