// Every assignment of every registry as a row: what search and export
// print. A row is the registry, the assignment's digits and width, the
// first and last address it covers (as 48-bit integers and as text), the
// holder and its postal address. The same keys in the same order in text,
// JSON Lines and CSV, so a search's answer loads wherever an export does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>
#include <string_view>

#include "vessarine/registry/tables.h"

namespace answer {

// The first and last 48-bit address an assignment covers.
inline uint64_t FirstAddress(const registry::Match& m) { return m.prefix << (48 - m.bits); }
inline uint64_t LastAddress(const registry::Match& m) { return FirstAddress(m) | ((uint64_t{1} << (48 - m.bits)) - 1); }

// Calls f(match) for every assignment, by registry (in kAllRegistries'
// order) and then by assignment, then for every user prefix by its first
// address and length.
template <class F>
void ForEachAssignment(const registry::RegistryTables& tables, F&& f) {
  for (listing::Registry r : listing::kAllRegistries) {
    const listing::TableView& t = tables.table(r);
    for (uint32_t i = 0; i < t.size(); ++i)
      f(registry::Match{r, t.KeyAt(i), t.bits(), t.OrganizationAt(i), t.AddressAt(i), &t, i});
  }
  const registry::UserPrefixes& user = tables.userPrefixes();
  std::vector<const registry::UserPrefix*> order;
  order.reserve(user.entries().size());
  for (const registry::UserPrefix& p : user.entries()) order.push_back(&p);
  std::sort(order.begin(), order.end(), [](const registry::UserPrefix* a, const registry::UserPrefix* b) {
    return a->first != b->first ? a->first < b->first : a->bits < b->bits;
  });
  for (const registry::UserPrefix* p : order) f(registry::UserMatch(user, *p));
}

// Whether a holder's name contains a text, letters in either case: ASCII,
// and the Latin, Greek and Cyrillic letters of two-byte UTF-8 ("SENSÖRS"
// finds "Sensörs"); every other byte must match exactly.
class HolderFilter {
 public:
  explicit HolderFilter(std::string_view text);
  bool Matches(std::string_view name) const;

 private:
  std::string folded_;  // the text, its letters lowered
  bool ascii_ = true;   // folded_ is all ASCII
};

// Pieces of a match that lookup's and export's rows write alike:
// the address lines as a JSON array; the further holders as a JSON array
// of {"organization","address"} objects; their names as one CSV field,
// joined by line feeds.
void AppendJsonLines(std::string* out, std::string_view lines);
void AppendJsonAlso(std::string* out, const registry::Match& m);
void AppendCsvAlso(std::string* out, const registry::Match& m);

enum class RowFormat { Text, Json, Csv };

// "registry,assignment,bits,first,last,first_mac,last_mac,organization,
// address,also,source\r\n": "also" the further holders of an assignment
// listed more than once, "source" a user prefix's FILE:LINE.
std::string_view AssignmentCsvHeader();

// Whether the filter takes any holder of the assignment.
bool AnyHolderMatches(const HolderFilter& filter, const registry::Match& m);

// One row, ending in a line end. JSON: an object with those keys, the
// address an array of lines, "also" an array of {"organization",
// "address"} objects, "source" null for an IEEE assignment. CSV: address
// lines and further holders' names joined by line feeds.
// Text: "MA-S  70B3D5F2F  /36  70:B3:D5:F2:F0:00-70:B3:D5:F2:FF:FF  Holder"
// with each address line indented below it, then "also: Holder" lines and
// a user prefix's "from FILE:LINE".
void AppendAssignmentRow(std::string* out, RowFormat format, const registry::Match& m);

}  // namespace answer
