// The answers to the main window's questions over the vendor store, as
// values: the GBK text a result box shows and whether it holds results or a
// message. They know nothing of a window, so the dialog and the command line
// show the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What a result box shows after a query: results, or one of the messages
// (invalid input, no match, please enter ...).
enum class QueryOutcome { Results, Message };

struct QueryAnswer {
  std::string text;  // GBK, exactly as the box shows it
  QueryOutcome outcome = QueryOutcome::Results;
};

// Where a paged company search stands: the record a continuation resumes at
// and the number of matches shown so far (the next entry is numbered one
// more). A new search starts from the default.
struct SearchCursor {
  int32_t position = 0;
  int32_t matches = 0;
};

struct CompanyPage {
  QueryAnswer answer;
  bool more = false;  // a page of five was cut: a continuation may follow
  // Where a continuation resumes. The position moves only with a page cut;
  // an empty search text leaves the cursor as it was given.
  SearchCursor next;
};

// Rebuilds `text` into `target`, cutting at line feeds and joining the pieces
// with "\r\n"; a line feed right after a cut one and a line feed as the very
// last byte stay uncut. With a trailer, "\r\n" + trailer follows. Linear time.
void ExpandLineBreaks(std::string_view text, std::string& target,
                      const char* trailer = nullptr);

// The company text of every record holding the prefix of `input` (all six
// bytes or the first three, separated by ':' or '-'), or for six bytes inside
// a 28- or 36-bit block that block's holder; else a validation message or
// "no match".
QueryAnswer LookupMac(std::string_view input);

// Every record as "\r\nXX:XX:XX    NAME\n", in table order; empty for an
// empty store.
QueryAnswer ListMacs();

// The entries of the names containing `text` (up to its first NUL, ASCII
// letters in any case), numbered on from `from`: five at most from
// `from.position` on, or with `all` every match, unpaged. A new search or
// "all" passes a default cursor; a continuation passes the last page's next
// (a cursor with a negative member starts over).
CompanyPage SearchCompanies(const std::string& text, SearchCursor from, bool all);

// First occurrence of `pattern` in `text`, ASCII letters compared without
// case; nullptr for an absent text or an empty pattern.
const char* StrIStr(const char* text, const char* pattern);
