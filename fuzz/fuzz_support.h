// What every fuzz target checks of a store it can see.
#pragma once

#include <cstdlib>
#include <cstring>

#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"

// Aborts (a finding) unless the store in place keeps what its readers rely
// on: a NUL in every name field, offsets in order and inside the text.
inline void CheckStoreInPlace() {
  std::shared_lock lock(StoreLock());
  size_t previous = 0;
  const size_t length = std::strlen(companyAddrList);
  for (int32_t i = 0; i < companyCount; ++i) {
    const char* record = companyMacList + static_cast<size_t>(i) * kRecordSize;
    if (std::memchr(record + kNameOffset, '\0', kNameFieldSize) == nullptr) std::abort();
    const size_t offset = static_cast<uint32_t>(HexToInt(record + 6, 8));
    if (offset < previous || offset > length) std::abort();
    previous = offset;
    (void)GetCompanyText(i);
  }
}
