// Every registry's table, loaded once at start, and the longest-prefix
// lookup over them.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "vessarine/registry/cache_io.h"
#include "vessarine/listing/registry.h"
#include "vessarine/listing/table.h"

namespace registry {

struct Match {
  Registry registry;
  uint64_t prefix;  // the assignment, `bits` wide
  int bits;
  std::string_view organization;
  std::string_view address;  // lines joined by '\n'
};

// "70B3D5F2F": an assignment's hex digits as the CSV listings write them.
std::string AssignmentText(Registry r, uint64_t prefix);
inline std::string AssignmentDigits(const Match& m) { return AssignmentText(m.registry, m.prefix); }

enum class TableSource { None, Cache, BuiltIn };

// Counts every load and release of a RegistryTables: texts of matches
// kept from one count to another may be gone or moved.
uint64_t TablesGeneration();

class RegistryTables {
 public:
  RegistryTables() = default;
  ~RegistryTables();
  RegistryTables(const RegistryTables&) = delete;
  RegistryTables& operator=(const RegistryTables&) = delete;

  // Maps each registry's cache file. A damaged or unreadable one is named on
  // `warnings` (when not null) and left out; MA-L then falls back to the
  // built-in table, as it does when it has no cache file.
  void Load(std::FILE* warnings);

  // Longest prefix first: 36-bit (MA-S, IAB), then 28-bit (MA-M), then
  // 24-bit (MA-L, CID), so a block's holder wins over the "IEEE
  // Registration Authority" entry of its parent. A three-byte input
  // (prefixOnly) can only match a 24-bit assignment.
  std::optional<Match> Lookup(uint64_t mac, bool prefixOnly) const;
  // Only the 36- and 28-bit assignments: the holder of a block below a
  // 24-bit one.
  std::optional<Match> LookupBlock(uint64_t mac) const;

  const TableView& table(Registry r) const { return views_[static_cast<size_t>(r)]; }
  TableSource source(Registry r) const { return sources_[static_cast<size_t>(r)]; }

 private:
  void Index();
  bool HasChildren(uint32_t p24) const;
  // The entry of registry `r` for `key` (its prefix, the table's width), or -1.
  int64_t Find(Registry r, uint64_t key) const;

  std::array<MappedFile, 5> files_;
  std::array<TableView, 5> views_;
  std::array<TableSource, 5> sources_{};
  // Distinct 24-bit parents of every MA-M, MA-S and IAB block, ascending:
  // addresses outside them skip the finer tables.
  std::vector<uint32_t> parents_;
  // Bit p >> 8 set for every parent p: the first 16 bits of most addresses
  // already say they have no finer block (8 KiB).
  std::array<uint64_t, 1024> parentBlocks_{};
  // For each large table: where the entries whose key starts with each
  // 12-bit value begin (4097 bounds), so a search covers a few entries.
  std::array<std::vector<uint32_t>, 5> buckets_;
};

// The tables as the cache directory now holds them, loaded on first use and
// shared by every caller until ReloadSharedTables (after an update).
std::shared_ptr<const RegistryTables> SharedTables();
void ReloadSharedTables();

// The table registry `r` now has: its cache file when whole (held by
// *file), else the built-in MA-L table, else an empty one. `fromCache` tells
// which.
TableView CurrentTable(Registry r, MappedFile* file, bool* fromCache = nullptr);

}  // namespace registry
