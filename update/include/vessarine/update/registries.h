// Where the registry's listings are published.
#pragma once

#include <string>

#include "vessarine/listing/registries.h"

// Where the Registration Authority publishes its listings.
inline constexpr char kRegistrySite[] = "https://standards-oui.ieee.org";

// The address of registry `r`'s text listing below `site` (the registry's
// own or a mirror of it): site + "/oui28/mam.txt" and so on.
std::string RegistryListingUrl(listing::Registry r, const std::string& site);
