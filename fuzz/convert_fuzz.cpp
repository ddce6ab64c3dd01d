// Listing conversion: any text either is refused (it holds a '>' once
// cleaned) or converts into a store that the loader would accept as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vessarine/db/loader.h"
#include "fuzz/fuzz_support.h"
#include "vessarine/listing/convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const std::string original = text;
  const StorePtr before = CurrentStore();
  const StorePtr store = registry::ConvertListing(text);
  if (!store) {
    // Refused only for a '>' (as cleaning leaves it) before the first NUL,
    // and a refusal changes nothing.
    const std::string beforeNul(original.c_str());
    if (beforeNul.find('>') == std::string::npos || CurrentStore() != before) std::abort();
    return 0;
  }
  if (!CacheTablesFit(store->macList, store->count, store->addrList, store->addrLength)) std::abort();
  ReplaceStore(store);
  CheckStoreInPlace();
  return 0;
}
