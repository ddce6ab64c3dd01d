// The two queries behind the main dialog's buttons, over the vendor store.
// They read and write the process-wide bound variables and talk to the window
// only through QueryHost, so the dialog and the command line run the same code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Bound variables of the dialog's boxes (GBK). g_strDbVersion is in db/loader.h.
extern std::string g_strMacInput;       // edit 1004
extern std::string g_strCompanyInput;   // edit 1006
extern std::string g_strMacResult;      // box 1007
extern std::string g_strCompanyResult;  // box 1008

// Paging state of the company search.
extern int32_t g_nSearchPos;
extern int32_t g_nMatchCount;

// What an operation needs from the window that shows its results.
class QueryHost {
 public:
  virtual ~QueryHost() = default;
  virtual void EnableControl(int id, bool enable) = 0;
  // Writes every bound variable into its box (UpdateData(FALSE)).
  virtual void Push() = 0;
};

// What a result box shows after an operation: results, or one of the
// messages (invalid input, no match, please enter ...).
enum class QueryOutcome { Results, Message };

// Rebuilds `text` into `target`, cutting at line feeds and joining the pieces
// with "\r\n"; a line feed right after a cut one and a line feed as the very
// last byte stay uncut. With a trailer, "\r\n" + trailer follows. Linear time.
void ExpandLineBreaks(std::string_view text, std::string& target,
                      const char* trailer = nullptr);

// Mode 0: look up g_strMacInput; mode 1: list every record. Disables 1011 and
// 1018, writes g_strMacResult, pushes.
QueryOutcome MacLookup(QueryHost& host, int mode);

// Mode 0 new search, 1 continue, 2 all. Writes g_strCompanyResult and the
// paging state, enables 1011/1018 after a page cut, pushes.
QueryOutcome CompanySearch(QueryHost& host, int mode);

// The button handlers' own parts, around CompanySearch.
// 匹配: replaces a MAC result over 5000 bytes by a notice, disables 1011 and
// 1018, new search.
QueryOutcome CompanyMatch(QueryHost& host);
// 继续: disables 1011, continues.
QueryOutcome CompanyContinue(QueryHost& host);
// 全部: disables 1011 and 1018, lists all.
QueryOutcome CompanyAll(QueryHost& host);

// First occurrence of `pattern` in `text`, ASCII letters compared without
// case; nullptr for an absent text or an empty pattern.
const char* StrIStr(const char* text, const char* pattern);
