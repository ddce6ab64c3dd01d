// Replacing registry tables from new listings. A listing that is refused
// changes nothing: the registry keeps the table it had.
//
// Every function here that saves expects the caller to hold the cache
// directory's exclusive lock for the whole call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vessarine/listing/registry.h"

namespace registry {

struct RefreshResult {
  enum class Status { Updated, Kept, Absent };
  Registry registry = Registry::MaL;
  Status status = Status::Absent;
  size_t entries = 0;  // entries of the new table (Updated)
  std::string source;  // file the listing came from, when there was one
  std::string reason;  // why the previous table was kept (Kept)
};

// One line for the user: "MA-M: updated, 4390 entries from /x/mam.txt",
// "IAB: kept the previous table: ...", "CID: no listing".
std::string Describe(const RefreshResult& result);

// Parses `listing` as registry `r`'s listing and saves the table unless the
// listing is refused (malformed, another registry's, or far fewer entries
// than the current table).
RefreshResult RefreshFromListing(Registry r, std::string_view listing, std::string_view source);
RefreshResult RefreshFromFile(Registry r, const std::string& path);

// A listing file of any registry: which one is told from the file's own
// header or rows, else from its name (oui.txt, mam.csv, ...).
RefreshResult RefreshFromListingFile(const std::string& path);

// A folder holding any of the five listings in either form
// (oui.txt|oui.csv, mam.*, oui36.*, iab.*, cid.*): one result per registry,
// Absent for those whose listing the folder lacks.
std::vector<RefreshResult> RefreshFromFolder(const std::string& dir);

// `update --from PATH`: a folder as RefreshFromFolder, anything else as one
// listing file.
std::vector<RefreshResult> RefreshFromPath(const std::string& path);

// Saves an image as registry `r`'s cache file (temporary file and rename).
bool SaveTableImage(Registry r, std::string_view image, std::string* error);

}  // namespace registry
