// Replacing registry tables from new listings. A listing that is refused
// changes nothing: the registry keeps the table it had.
//
// Every function here that saves expects the caller to hold the cache
// directory's exclusive lock for the whole call.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/listing/listing.h"
#include "vessarine/listing/registries.h"

namespace update {

// One assignment an update changed.
struct TableChange {
  uint64_t prefix = 0;
  std::string before, after;  // holders; empty before: new, empty after: withdrawn
};

struct RefreshResult {
  // Unchanged: the registry answered that its listing has not changed.
  enum class Status { Updated, Kept, Absent, Unchanged };
  listing::Registry registry = listing::Registry::MaL;
  Status status = Status::Absent;
  size_t entries = 0;  // entries of the new table (Updated)
  std::string source;  // file or address the listing came from, when there was one
  std::string reason;  // why the previous table was kept (Kept); since when unchanged (Unchanged)
  size_t added = 0, withdrawn = 0, renamed = 0;  // against the table replaced
  std::vector<TableChange> changes;              // each of them, in assignment order, when asked
};



// One line for the user: "MA-M: updated, 4,390 entries (+12 new, -1
// withdrawn, 3 renamed) from /x/mam.txt", "IAB: kept the previous table:
// ...", "CID: no listing", "MA-S: unchanged since ...".
std::string Summary(const RefreshResult& result);

// The refusal rule of every registry, the store's MA-L included: a listing
// of `entries` assignments may not replace a table of `current` when it has
// fewer than half of them (a partial download, a broken mirror, the wrong
// file) or, past 100,000, more than three times as many (more than the
// registry could grow in one step). Empty when it may; `force` always may.
std::string RefusalOf(size_t entries, size_t current, bool force);

// A listing read, parsed and judged, ready to be saved.
struct PreparedTable {
  RefreshResult result;                 // Kept with its reason when refused
  std::shared_ptr<const std::string> bytes;  // the listing; `parsed` views it
  listing::ParsedListing parsed;
  std::string image;
  bool refused() const { return result.status == RefreshResult::Status::Kept; }
};

// Reads `path` (a regular file within the listing cap, never blocking) as
// registry `r`'s listing and judges it; `source` is what messages name.
// `alongside`, when given, also runs on the parsed listing, on a thread of
// its own while the table is laid out (the store made from the same
// reading), before the listing is judged.
// The result counts what the table changes; `listChanges` also lists each
// change.
PreparedTable PrepareTable(listing::Registry r, const std::string& path, std::string_view source, bool force,
                           bool listChanges = false,
                           const std::function<void(const listing::ParsedListing&)>& alongside = {});

// Saves a prepared table that was not refused as registry `r`'s cache file;
// the result says Updated, or Kept when it cannot be written.
RefreshResult SaveTable(const PreparedTable& table);

// Which registry a listing is for: its content, else its file name (oui.txt,
// mam.csv, ...).
std::optional<listing::Registry> RegistryOfListingFile(const std::string& path, std::string* problem);

// The listing of each registry in folder `dir`, by the registry's file name:
// the text form first (it carries the address as its lines), else the CSV
// form; empty for a registry the folder has none of.
std::array<std::string, 5> ListingsInFolder(const std::string& dir);

// Saves an image as registry `r`'s cache file (temporary file and rename).
bool SaveTableImage(listing::Registry r, std::string_view image, std::string* error);

}  // namespace update
