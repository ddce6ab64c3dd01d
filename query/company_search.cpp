#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "vessarine/store/bytes.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/query/controls.h"
#include "vessarine/query/format.h"
#include "vessarine/query/queries.h"

std::string g_strCompanyInput;
std::string g_strCompanyResult;
int32_t g_nSearchPos = 0;
int32_t g_nMatchCount = 0;

namespace {

constexpr int kPageSize = 5;
// A MAC result longer than this is replaced before a new company search.
constexpr size_t kMacResultLimit = 5000;

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

QueryOutcome CompanySearch(QueryHost& host, int mode) {
  if (mode == 0 || mode == 2) {
    g_nSearchPos = 0;
    g_nMatchCount = 0;
  }
  if (g_strCompanyInput.empty()) {
    g_strCompanyResult = FormatMessage(kMsgEnterCompany);
    host.Push();
    return QueryOutcome::Message;
  }
  const char* pattern = g_strCompanyInput.c_str();

  std::string collected;
  bool pageCut = false;
  {
    std::shared_lock lock(StoreLock());
    for (int32_t i = g_nSearchPos; i < companyCount; ++i) {
      const char* record = companyMacList + static_cast<size_t>(i) * kRecordSize;
      if (StrIStr(record + kNameOffset, pattern) == nullptr) continue;
      // Each entry is formatted on its own and appended: the same bytes as
      // formatting "%s匹配%d..." with the text so far, without re-copying it.
      collected += FormatText(kEntryFormat, "", g_nMatchCount + 1, record[0], record[1], record[2],
                              record[3], record[4], record[5], GetCompanyText(i).c_str());
      ++g_nMatchCount;
      if (mode != 2 && g_nMatchCount % kPageSize == 0) {
        g_nSearchPos = i + 1;
        pageCut = true;
        break;
      }
    }
  }
  if (pageCut) {
    ExpandLineBreaks(collected, g_strCompanyResult, kPageTrailer);
    host.Push();
    host.EnableControl(IDC_COMPANY_CONTINUE, true);
    host.EnableControl(IDC_COMPANY_ALL, true);
    return QueryOutcome::Results;
  }
  g_strCompanyResult.clear();
  QueryOutcome outcome = QueryOutcome::Results;
  if (collected.empty()) {
    g_strCompanyResult = FormatMessage(kMsgNoMatch);
    outcome = QueryOutcome::Message;
  } else {
    ExpandLineBreaks(collected, g_strCompanyResult);
  }
  host.Push();
  return outcome;
}

QueryOutcome CompanyMatch(QueryHost& host) {
  if (g_strMacResult.size() > kMacResultLimit) g_strMacResult = FormatMessage(kMsgMacCacheTooLarge);
  host.EnableControl(IDC_COMPANY_CONTINUE, false);
  host.EnableControl(IDC_COMPANY_ALL, false);
  return CompanySearch(host, 0);
}

QueryOutcome CompanyContinue(QueryHost& host) {
  host.EnableControl(IDC_COMPANY_CONTINUE, false);
  return CompanySearch(host, 1);
}

QueryOutcome CompanyAll(QueryHost& host) {
  host.EnableControl(IDC_COMPANY_CONTINUE, false);
  host.EnableControl(IDC_COMPANY_ALL, false);
  return CompanySearch(host, 2);
}
