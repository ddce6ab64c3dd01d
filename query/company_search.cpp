#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "vessarine/store/bytes.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/query/format.h"
#include "vessarine/query/queries.h"

namespace {

constexpr int kPageSize = 5;

}  // namespace

const char* StrIStr(const char* text, const char* pattern) {
  if (text == nullptr || pattern == nullptr || *pattern == '\0') return nullptr;
  for (const char* s = text; *s != '\0'; ++s) {
    size_t j = 0;
    while (s[j] != '\0' && pattern[j] != '\0' && AsciiLower(s[j]) == AsciiLower(pattern[j])) ++j;
    if (pattern[j] == '\0') return s;
  }
  return nullptr;
}

CompanyPage SearchCompanies(const std::string& text, SearchCursor from, bool all) {
  CompanyPage page;
  page.next = from;
  if (text.empty()) {
    page.answer = {FormatMessage(kMsgEnterCompany), QueryOutcome::Message};
    return page;
  }
  const char* pattern = text.c_str();
  // Only a cursor this search handed out is resumed; a negative one would
  // read before the table, and starts over instead.
  if (from.position < 0 || from.matches < 0) from = page.next = {};

  std::string collected;
  int32_t& matches = page.next.matches;
  {
    std::shared_lock lock(StoreLock());
    for (int32_t i = from.position; i < companyCount; ++i) {
      const char* record = companyMacList + static_cast<size_t>(i) * kRecordSize;
      if (StrIStr(record + kNameOffset, pattern) == nullptr) continue;
      // Each entry is formatted on its own and appended: the same bytes as
      // formatting "%s匹配%d..." with the text so far, without re-copying it.
      collected += FormatText(kEntryFormat, "", matches + 1, record[0], record[1], record[2],
                              record[3], record[4], record[5], GetCompanyText(i).c_str());
      ++matches;
      if (!all && matches % kPageSize == 0) {
        page.next.position = i + 1;
        page.more = true;
        break;
      }
    }
  }
  if (page.more) {
    ExpandLineBreaks(collected, page.answer.text, kPageTrailer);
  } else if (collected.empty()) {
    page.answer = {FormatMessage(kMsgNoMatch), QueryOutcome::Message};
  } else {
    ExpandLineBreaks(collected, page.answer.text);
  }
  return page;
}
