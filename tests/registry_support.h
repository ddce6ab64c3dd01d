// Registry tables refreshed as an update does it, for the registry tests.
#pragma once

#include <string>
#include <vector>

#include "vessarine/listing/listing.h"
#include "vessarine/registry/refresh.h"

// A registry table refreshed from a listing file or bytes, as an update
// does it (the caller's private cache directory needs no lock).
// `force` takes a listing the refusal rule would turn down (the fixtures'
// few MA-L entries against the built-in table).
registry::RefreshResult RefreshFile(registry::Registry r, const std::string& path, bool force = false);
registry::RefreshResult RefreshListing(registry::Registry r, const std::string& bytes);
// Every registry's listing in folder `dir`: one result per registry.
std::vector<registry::RefreshResult> RefreshFolder(const std::string& dir, bool force = false);
