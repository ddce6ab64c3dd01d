// Conversion of a registry listing (oui.txt) into a vendor store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A store built aside, not yet in place. Blocks are C heap; the destructor
// frees what was not handed over.
struct ConvertedStore {
  char* macList = nullptr;
  char* addrList = nullptr;
  int32_t count = 0;
  size_t macCapacity = 0;   // bytes allocated for the vendor table
  size_t addrCapacity = 0;  // bytes allocated for the address text
  size_t addrLength = 0;    // bytes of address text before its NUL

  ConvertedStore() = default;
  ConvertedStore(const ConvertedStore&) = delete;
  ConvertedStore& operator=(const ConvertedStore&) = delete;
  ConvertedStore(ConvertedStore&& other) noexcept
      : macList(other.macList), addrList(other.addrList), count(other.count),
        macCapacity(other.macCapacity), addrCapacity(other.addrCapacity),
        addrLength(other.addrLength) {
    other.macList = nullptr;
    other.addrList = nullptr;
  }
  ~ConvertedStore();
};

// Turns every CR LF into LF, as a text-mode read does. In place.
void TextModeNewlines(std::string& text);

// Cleans `text` in place (bytes above 0x80 -> '*', '"' and '\\' -> '~') and
// converts it. Returns false, with `out` untouched, when the cleaned text
// holds a '>' (the listing is refused). A NUL in `text` ends it. Address
// lines end in line feeds. Linear in the length of the text.
bool BuildStoreFromListing(std::string& text, ConvertedStore& out);

// BuildStoreFromListing, then puts the new store in place under the store's
// lock. Returns whether the text was refused; a refused text changes nothing.
bool ConvertListing(std::string& text);

// Replaces every line feed of the address text by '>' (what the cache file
// holds).
void LineFeedsToGt(char* addrText, size_t length);
