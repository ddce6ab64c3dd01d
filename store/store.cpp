#include "vessarine/store/store.h"

#include "vessarine/store/bytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

const char* companyMacList = nullptr;
const char* companyAddrList = nullptr;
int32_t companyCount = 0;

namespace {
// The snapshot the views point into; guarded by StoreLock().
StorePtr g_current;
}  // namespace

StorePtr StoreSnapshot::FromHeap(char* macList, char* addrList, int32_t count, size_t addrLength) {
  auto store = std::make_shared<StoreSnapshot>();
  store->macList = macList;
  store->addrList = addrList;
  store->count = count;
  store->addrLength = addrLength;
  store->memory = std::shared_ptr<const void>(macList, [addrList](const void* mac) {
    std::free(addrList);
    std::free(const_cast<void*>(mac));
  });
  return store;
}

std::shared_mutex& StoreLock() {
  static std::shared_mutex lock;
  return lock;
}

void ReplaceStore(StorePtr store) {
  StorePtr old;
  {
    std::unique_lock lock(StoreLock());
    old = std::move(g_current);
    g_current = std::move(store);
    companyMacList = g_current ? g_current->macList : nullptr;
    companyAddrList = g_current ? g_current->addrList : nullptr;
    companyCount = g_current ? g_current->count : 0;
  }
  // `old` is freed here, outside the lock, unless someone still holds it.
}

StorePtr CurrentStore() {
  std::shared_lock lock(StoreLock());
  return g_current;
}

void ReleaseStore() { ReplaceStore(nullptr); }

void ForEachRecordWithKey(const char (&key)[6], const std::function<void(int32_t)>& f) {
  int32_t i = 0;
  if (g_current && g_current->readTable) {
    constexpr int32_t kBlock = 128;
    char block[kBlock * kRecordSize];
    for (; i < companyCount; i += kBlock) {
      const int32_t n = std::min(kBlock, companyCount - i);
      if (!g_current->readTable(block, static_cast<size_t>(n) * kRecordSize, static_cast<uint64_t>(i) * kRecordSize)) {
        break;  // the rest from memory
      }
      for (int32_t k = 0; k < n; ++k) {
        if (std::memcmp(block + static_cast<size_t>(k) * kRecordSize, key, 6) == 0) f(i + k);
      }
    }
  }
  for (; i < companyCount; ++i) {
    if (std::memcmp(companyMacList + static_cast<size_t>(i) * kRecordSize, key, 6) == 0) f(i);
  }
}

int32_t HexToInt(const char* text, int length) {
  uint32_t result = 0;  // unsigned: shifting out high digits is intended
  for (int i = 0; i < length; ++i) {
    const int digit = HexDigitValue(text[i]);
    result = (result << 4) + static_cast<uint32_t>(digit < 0 ? 0 : digit);
  }
  return static_cast<int32_t>(result);
}

std::string GetCompanyText(int32_t index) {
  const char* record = companyMacList + static_cast<size_t>(index) * kRecordSize;
  const char* name = record + kNameOffset;
  std::string text(name, strnlen(name, kNameFieldSize));

  // The block runs from this record's offset to the next one's (or, for the
  // last record, to the end of the text); its first four bytes are the
  // record index. Every store in place has offsets that increase and stay
  // inside the text (checked when cache files are loaded).
  size_t offset = static_cast<uint32_t>(HexToInt(record + 6, 8));
  size_t end = index < companyCount - 1
                   ? static_cast<uint32_t>(HexToInt(record + kRecordSize + 6, 8))
                   : offset + std::strlen(companyAddrList + offset);
  size_t start = offset + 4;
  if (start < end) text.append(companyAddrList + start, end - start);

  for (char& c : text) {
    if (c == '>') c = '\n';
  }
  return text;
}
