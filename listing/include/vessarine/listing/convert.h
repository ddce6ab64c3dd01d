// Conversion of a registry listing (oui.txt) into a vendor store.
#pragma once

#include <string>

#include "vessarine/store/store.h"

// Address-text bytes reserved per counted entry when a store is converted;
// the text grows past it when a listing needs more.
inline constexpr int kAddrBytesPerRecord = 200;

// Turns every CR LF into LF, as a text-mode read does. In place.
void TextModeNewlines(std::string& text);

// Cleans `text` in place (bytes above 0x80 -> '*', '"' and '\\' -> '~') and
// converts it into a new store, not yet in place, whose address lines end in
// '>' (the form of the cache files and the built-in copy). Returns nullptr
// when the cleaned text holds a '>': the listing is refused. A NUL in `text`
// ends it. Linear in the length of the text; throws std::bad_alloc.
StorePtr ConvertListing(std::string& text);
