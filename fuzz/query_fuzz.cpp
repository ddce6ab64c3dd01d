// The queries' inputs: any text typed into either box, any sequence of
// button presses, on the built-in copy. The first byte picks the operation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vessarine/db/loader.h"
#include "vessarine/query/queries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool loaded = [] {
    LoadBuiltinDatabase();
    return true;
  }();
  (void)loaded;
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      if (LookupMac(input).text.empty()) std::abort();
      break;
    case 1:
    case 2: {
      CompanyPage page = SearchCompanies(input, {}, false);
      const bool cut = page.more;
      // Pages as a user would press them, while there are more.
      for (int n = 0; n < 3 && page.more; ++n) page = SearchCompanies(input, page.next, false);
      if (data[0] % 4 == 2 && cut) page = SearchCompanies(input, {}, true);
      if (page.answer.text.empty()) std::abort();
      break;
    }
    default:
      SearchCompanies(input, {}, true);
      LookupMac(input);
      break;
  }
  return 0;
}
