// The vendor store made from a parsed MA-L listing.
#pragma once

#include <string_view>

#include "vessarine/listing/listing.h"
#include "vessarine/store/store.h"

namespace listing {

// A new store, not yet in place, with a record for every entry: the
// assignment's six digits, the offset of its address block, and its name
// (cut at 98 bytes) with a line feed. Its address block is the record's index
// (four hex digits), then each address line without its indentation, ended by
// '>' (the form of the cache files and the built-in copy); an entry without
// address lines has one empty line, a "PRIVATE" entry of the older listings
// the line "PRIVATE". Bytes above 0x80 become '*', '"' and '\\' become '~'.
// Null when a name or an address holds '>': the store could not tell it from
// a line end. Throws std::bad_alloc.
StorePtr StoreFromListing(const ParsedListing& parsed);

// A holder and its address lines ('\n'-separated, UTF-8, as a registry
// table keeps them) as a record's company text reads: the name cut at 98
// bytes and each address line, every one ended by a line feed, cleaned as the
// store's records are.
std::string StoreCompanyText(std::string_view organization, std::string_view address);

// ParseListing as MA-L, then StoreFromListing; null when either refuses.
StorePtr ConvertListing(std::string_view listing);

}  // namespace listing
