// Listing reading and conversion: any bytes either are refused (by the
// listing reader, or for a '>' the store cannot keep), changing nothing, or
// give a store that the loader would accept as it is, with a record for
// every entry, and a whole table image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vessarine/db/loader.h"
#include "fuzz/fuzz_support.h"
#include "vessarine/listing/convert.h"
#include "vessarine/listing/listing.h"
#include "vessarine/listing/table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const StorePtr before = CurrentStore();
  const listing::ParsedListing parsed = listing::ParseListing(text, listing::Registry::MaL);
  const StorePtr store = parsed.ok() ? listing::StoreFromListing(parsed) : nullptr;
  if (!store) {
    if ((parsed.ok() && text.find('>') == std::string::npos) || CurrentStore() != before) std::abort();
    return 0;
  }
  if (static_cast<size_t>(store->count) != parsed.entries.size()) std::abort();
  if (!CacheTablesFit(store->macList, store->count, store->addrList, store->addrLength)) std::abort();
  const std::string image = listing::EncodeImage(listing::Registry::MaL, parsed);
  if (!listing::TableView::FromImage(image.data(), image.size(), listing::Registry::MaL, true, nullptr)) std::abort();
  ReplaceStore(store);
  CheckStoreInPlace();
  return 0;
}
