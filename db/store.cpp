#include "db/store.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

char* companyMacList = nullptr;
char* companyAddrList = nullptr;
int32_t companyCount = 0;

std::shared_mutex& StoreLock() {
  static std::shared_mutex lock;
  return lock;
}

void ReplaceStore(char* macList, char* addrList, int32_t count) {
  std::unique_lock lock(StoreLock());
  std::free(companyAddrList);
  std::free(companyMacList);
  companyMacList = macList;
  companyAddrList = addrList;
  companyCount = count;
}

void ReleaseStore() { ReplaceStore(nullptr, nullptr, 0); }

int32_t HexToInt(const char* text, int length) {
  uint32_t result = 0;  // unsigned: shifting out high digits is intended
  for (int i = 0; i < length; ++i) {
    char c = text[i];
    result <<= 4;
    if (c >= 'a' && c <= 'f') result += static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') result += static_cast<uint32_t>(c - 'A' + 10);
    else if (c >= '0' && c <= '9') result += static_cast<uint32_t>(c - '0');
  }
  return static_cast<int32_t>(result);
}

std::string GetCompanyText(int32_t index) {
  const char* record = companyMacList + static_cast<size_t>(index) * kRecordSize;
  const char* name = record + kNameOffset;
  std::string text(name, strnlen(name, kNameFieldSize));

  // The block runs from this record's offset to the next one's (or, for the
  // last record, to the end of the text); its first four bytes are the
  // record index. Loading and conversion guarantee offsets that never
  // decrease and never point past the text.
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
