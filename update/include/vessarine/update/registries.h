// Refreshing the registry tables (MA-L, MA-M, MA-S, IAB, CID) as part of an
// update: from listings on disk or downloaded from the registry's site, each
// saved under the cache directory's exclusive lock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vessarine/registry/refresh.h"

// Where the Registration Authority publishes its listings.
inline constexpr char kRegistrySite[] = "https://standards-oui.ieee.org";

// The address of registry `r`'s text listing below `site` (the registry's
// own or a mirror of it): site + "/oui28/mam.txt" and so on.
std::string RegistryListingUrl(registry::Registry r, const std::string& site);

// Registry `r`'s table from a listing file. A busy cache directory (another
// process's rewrite holding the lock too long) keeps the previous table.
registry::RefreshResult RefreshRegistryFromFile(registry::Registry r, const std::string& path);

// Registry `r`'s table from a listing already read (the store's update's).
registry::RefreshResult RefreshRegistryFromListing(registry::Registry r, std::string_view listing);

// `update --from PATH`: a listing file of any registry, or a folder holding
// any of the five listings in either form.
std::vector<registry::RefreshResult> RefreshRegistriesFromPath(const std::string& path);

// Downloads registry `r`'s listing from `url` (the same client as the store's
// download) into a file of its own, refreshes the table from it and removes
// the file.
registry::RefreshResult DownloadRegistry(registry::Registry r, const std::string& url);
