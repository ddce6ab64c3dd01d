// Reading the Registration Authority's listings, in their text form
// (oui.txt, mam.txt, oui36.txt, iab.txt, cid.txt) and their CSV form
// (oui.csv, ...), into table entries.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/listing/registries.h"
#include "vessarine/listing/table.h"

namespace listing {

// The cap on every listing, read from disk or downloaded: a larger one is
// refused unread (today's largest, oui.txt, is 6 MB).
inline constexpr size_t kMaxListingBytes = size_t{64} << 20;

// One assignment as a listing gives it: views of the listing's bytes (or of
// the parse's own copy of a quoted CSV field), not yet cleaned or converted,
// so that the store's records and the registry tables are both made from
// this one reading (StoreFromListing, TableEntries).
struct ListedEntry {
  uint64_t prefix = 0;         // the assignment's `bits` leading bits
  std::string_view name;       // the holder as the "(hex)" line (after "(hex)") or the CSV writes it
  std::string_view baseName;   // text form: what follows "(base 16)" on its line
  std::string_view address;    // address lines, '\n'-separated, as they stand (blank ones too)
  uint8_t indent = 0;          // text form: the columns every address line is indented by
  bool csv = false;
};

struct ParsedListing {
  std::vector<ListedEntry> entries;  // in listing order; empty when refused
  std::string refusal;               // why the listing was refused; empty when accepted
  std::unique_ptr<std::string> unquoted;  // the CSV form's quoted fields, undoubled
  bool utf8 = false;                      // the whole listing is valid UTF-8
  bool ok() const { return refusal.empty(); }
};

// Parses a listing of registry `r`; the form (text or CSV) is told from the
// bytes. Anything that is not a whole listing of that registry (an HTML
// page, a file cut short, another registry's listing, a malformed entry) is
// refused with a reason naming the line. The entries view `bytes`, which
// must outlive them.
ParsedListing ParseListing(std::string_view bytes, Registry r);

// The table entries of a parsed listing: names and addresses cleaned and in
// UTF-8 (the older listings' Latin-1 converted), blank address lines dropped.
std::vector<Entry> TableEntries(const ParsedListing& parsed);
// The table image of a parsed listing: its TableEntries laid out by
// EncodeImage, made straight from the entries.
std::string EncodeImage(Registry r, const ParsedListing& parsed);

// Which registry a listing is for, from its own header or rows; nullopt when
// the bytes do not say.
std::optional<Registry> RegistryOfListing(std::string_view bytes);

// Text kept as it is when it is valid UTF-8, otherwise read as ISO 8859-1
// (the encoding of the older listings) and converted.
std::string ToUtf8(std::string_view text);

}  // namespace listing
