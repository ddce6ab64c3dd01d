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

#include "vessarine/db/table_files.h"
#include "vessarine/registry/user_prefixes.h"
#include "vessarine/listing/registries.h"
#include "vessarine/listing/table.h"

namespace registry {

struct Match {
  listing::Registry registry;
  uint64_t prefix;  // the assignment, `bits` wide
  int bits;
  std::string_view organization;
  std::string_view address;  // lines joined by '\n'
  // The table and entry matched, for the entry's further holders.
  const listing::TableView* table = nullptr;
  uint32_t index = 0;
  // Set instead when the user's own prefixes file names the address.
  const UserPrefix* user = nullptr;
  const UserPrefixes* userFile = nullptr;
};

// "MA-L", ..., or "user" for a prefix of the user's own file.
std::string_view RegistryName(const Match& m);
// The holders after the first that the listing gives the same assignment to.
std::vector<listing::TableView::Holder> FurtherHolders(const Match& m);
// "FILE:LINE" of a user prefix; empty for an IEEE assignment.
std::string UserSource(const Match& m);
// The match of a user prefix of `file`.
Match UserMatch(const UserPrefixes& file, const UserPrefix& p);

// "70B3D5F2F": a prefix's hex digits as the CSV listings write them, one
// digit for every four bits (a last, partial digit padded with zeros).
void AppendPrefixDigits(std::string* out, uint64_t prefix, int bits);
std::string AssignmentText(listing::Registry r, uint64_t prefix);
std::string AssignmentDigits(const Match& m);

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

  // Takes each registry's cache file. A damaged or unreadable one is named on
  // `warnings` (when not null) and left out; MA-L then falls back to the
  // built-in table, as it does when it has no cache file. `manyLookups`
  // builds the indexes that make each lookup cheaper; an answer to a few
  // addresses does without them, as building them reads every key.
  void Load(std::FILE* warnings, bool manyLookups = true);
  // The user's own prefixes, looked up before every IEEE table.
  void SetUserPrefixes(UserPrefixes prefixes) { user_ = std::move(prefixes); }
  const UserPrefixes& userPrefixes() const { return user_; }

  // The user's prefixes first (longest first), then the IEEE tables
  // longest prefix first: 36-bit (MA-S, IAB), then 28-bit (MA-M), then
  // 24-bit (MA-L, CID), so a block's holder wins over the "IEEE
  // Registration Authority" entry of its parent. A three-byte input
  // (prefixOnly) can only match a prefix of 24 bits or fewer.
  std::optional<Match> Lookup(uint64_t mac, bool prefixOnly) const;
  // Only the 36- and 28-bit assignments: the holder of a block below a
  // 24-bit one.
  std::optional<Match> LookupBlock(uint64_t mac) const;

  const listing::TableView& table(listing::Registry r) const { return views_[static_cast<size_t>(r)]; }
  TableSource source(listing::Registry r) const { return sources_[static_cast<size_t>(r)]; }

 private:
  void Index();
  bool HasChildren(uint32_t p24) const;
  // The entry of registry `r` for `key` (its prefix, the table's width), or -1.
  int64_t Find(listing::Registry r, uint64_t key) const;

  UserPrefixes user_;
  std::array<db::FileSnapshot, 5> files_;
  std::array<listing::TableView, 5> views_;
  std::array<TableSource, 5> sources_{};
  bool indexed_ = false;
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
listing::TableView CurrentTable(listing::Registry r, db::FileSnapshot* file, bool* fromCache = nullptr);

}  // namespace registry
