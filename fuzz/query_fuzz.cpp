// The queries' inputs: any text typed into either box, any sequence of
// button presses, on the built-in copy. The first byte picks the operation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "vessarine/db/loader.h"
#include "vessarine/query/controls.h"
#include "vessarine/query/queries.h"
#include "tests/recording_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool loaded = [] {
    LoadBuiltinDatabase();
    return true;
  }();
  (void)loaded;
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  RecordingHost host;
  switch (data[0] % 4) {
    case 0:
      g_strMacInput = input;
      MacLookup(host, 0);
      if (g_strMacResult.empty()) std::abort();
      break;
    case 1:
    case 2:
      g_strCompanyInput = input;
      CompanyMatch(host);
      // Pages as a user would press them, while the buttons allow.
      for (int page = 0; page < 3 && host.IsEnabled(IDC_COMPANY_CONTINUE); ++page) CompanyContinue(host);
      if (data[0] % 4 == 2 && host.IsEnabled(IDC_COMPANY_ALL)) CompanyAll(host);
      if (g_strCompanyResult.empty()) std::abort();
      break;
    default:
      g_strMacInput = input;
      g_strCompanyInput = input;
      CompanySearch(host, 2);
      MacLookup(host, 0);
      break;
  }
  if (host.pushes == 0) std::abort();
  return 0;
}
