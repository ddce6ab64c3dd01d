// Reading the Registration Authority's listings, in their text form
// (oui.txt, mam.txt, oui36.txt, iab.txt, cid.txt) and their CSV form
// (oui.csv, ...), into table entries.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/listing/registry.h"
#include "vessarine/listing/table.h"

namespace registry {

// The cap on every listing, read from disk or downloaded: a larger one is
// refused unread (today's largest, oui.txt, is 6 MB).
inline constexpr size_t kMaxListingBytes = size_t{64} << 20;

struct ParsedListing {
  std::vector<Entry> entries;  // in listing order; empty when refused
  std::string refusal;         // why the listing was refused; empty when accepted
  bool ok() const { return refusal.empty(); }
};

// Parses a listing of registry `r`; the form (text or CSV) is told from the
// bytes. Anything that is not a whole listing of that registry (an HTML
// page, a file cut short, another registry's listing, a malformed entry) is
// refused with a reason naming the line.
ParsedListing ParseListing(std::string_view bytes, Registry r);

// Which registry a listing is for, from its own header or rows; nullopt when
// the bytes do not say.
std::optional<Registry> RegistryOfListing(std::string_view bytes);

// Text kept as it is when it is valid UTF-8, otherwise read as ISO 8859-1
// (the encoding of the older listings) and converted.
std::string ToUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);

}  // namespace registry
