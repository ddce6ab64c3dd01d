// The in-memory vendor record store: a table of fixed 114-byte vendor records
// and one address text holding every record's address block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

// Width of one vendor record: 6 OUI digits, 8 offset digits, 100 bytes of name.
inline constexpr int kRecordSize = 114;
inline constexpr int kNameOffset = 14;
inline constexpr int kNameFieldSize = 100;

// One complete store: the vendor table, its address text (NUL-terminated,
// every line ended by '>') and the record count, never changed once made.
// `memory` keeps the bytes alive however they are held: C-heap blocks of a
// conversion, read-only mappings of the cache files, or nothing for the
// built-in copy, which lives in the program's read-only data.
struct StoreSnapshot {
  const char* macList = nullptr;
  const char* addrList = nullptr;
  int32_t count = 0;
  size_t addrLength = 0;  // bytes of address text before its NUL
  std::shared_ptr<const void> memory;
  // Set when the table is a file mapped in place: reads `n` bytes of it
  // from `offset`, false on a short read. A scan of every record reads
  // through it a block at a time rather than faulting in every page.
  std::function<bool(char* out, size_t n, uint64_t offset)> readTable;

  // Takes two C-heap blocks (freed with the snapshot).
  static std::shared_ptr<const StoreSnapshot> FromHeap(char* macList, char* addrList,
                                                       int32_t count, size_t addrLength);
};
using StorePtr = std::shared_ptr<const StoreSnapshot>;

// Views of the store in place, for the queries and the window. Readers hold
// StoreLock() shared; ReplaceStore and ReleaseStore change all three together
// under the exclusive lock, so a query never sees a freed block or a count
// larger than its table.
extern const char* companyMacList;
extern const char* companyAddrList;
extern int32_t companyCount;

std::shared_mutex& StoreLock();

// Puts `store` in place of the current one, whole, under the exclusive lock.
// The old snapshot's memory goes when its last holder lets it go.
void ReplaceStore(StorePtr store);
// The snapshot in place (null when released).
StorePtr CurrentStore();
// Leaves an empty store.
void ReleaseStore();

// Calls f(i) for every record i whose first six bytes are `key`, in table
// order. Caller holds StoreLock() at least shared.
void ForEachRecordWithKey(const char (&key)[6], const std::function<void(int32_t)>& f);

// Decodes `length` hexadecimal digits of either case; any other byte counts
// as the digit 0. 32-bit arithmetic: high digits past 8 are shifted out.
int32_t HexToInt(const char* text, int length);

// The company text of record `index`: the name with its line feed, then each
// address line ended by a line feed (a '>' line end in the store becomes a
// line feed). Returned whole, whatever its length. Caller holds StoreLock()
// at least shared, and 0 <= index < companyCount.
std::string GetCompanyText(int32_t index);
