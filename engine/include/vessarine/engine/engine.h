// The engine every front end asks (the command line, the Python module):
// every registry's table and the user's prefixes, loaded once, answering
// with values. Lookups of one identifier or many, identifiers found in
// text (finder.h), holders searched, every assignment listed, and which
// tables are loaded from where. An Engine is read-only once open: any
// number of threads may ask it at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/answer/assignments.h"
#include "vessarine/answer/describe.h"
#include "vessarine/answer/fields.h"
#include "vessarine/identifier/identifier.h"
#include "vessarine/registry/tables.h"

namespace engine {

struct Options {
  std::string prefixes;  // the user's prefixes file (it must exist); empty: the default one when it exists
  bool manyLookups = true;  // as for RegistryTables::Load: false for a few lookups and an end
};

// No notation of an identifier comes near this length: a longer input is
// none, and its answer quotes only its start.
inline constexpr size_t kMaxIdentifierText = 4u << 10;
// How much of an overlong input its answer quotes.
inline constexpr size_t kQuotedStart = 64;

// One input's answer: the identifier's description, or why it is none.
struct Answer {
  std::optional<answer::Description> description;
  std::string error;  // set when description is not
  std::string quoted;  // an overlong input's start as its answer quotes it

  // The input the answer names: `input` itself, or the quoted start.
  std::string_view Input(std::string_view input) const { return quoted.empty() ? input : std::string_view(quoted); }
};

// The answer to an input longer than kMaxIdentifierText, given its first
// bytes (`start`, at least kQuotedStart of them when it has that many) and its
// length: a stream reader need not hold the whole line.
Answer OverlongAnswer(std::string_view start, size_t size);
void SetOverlong(Answer* a, std::string_view start, size_t size);

// One loaded table: the registry ("MA-L", ...), its entries, and where it
// came from ("cache" with the file's path, "built-in", or "none"); for the
// user's prefixes, "user" and "file" with its path.
struct TableInfo {
  std::string_view registry;
  uint32_t entries = 0;
  std::string_view source;
  std::string path;
};

class Engine {
 public:
  // Reads the prefixes file and maps every registry's table. Null with
  // "FILE:LINE: what is wrong" (or why the file cannot be read) in *error
  // when the prefixes file cannot be used. A damaged or unreadable table
  // is named on `warnings` (when not null) and left out.
  static std::unique_ptr<Engine> Open(const Options& options, std::FILE* warnings, std::string* error);

  // The answer for one input, in any notation the identifier reader takes.
  Answer Lookup(std::string_view input, identifier::ReadOptions read = {}) const;
  // The same into *a, which a caller answering many inputs keeps: its
  // strings are not made and freed again for every input.
  void Lookup(std::string_view input, identifier::ReadOptions read, Answer* a) const;

  // Calls the visitor (answer/fields.h) with the members of an answer's
  // object: the lookup's, or "input" and "error".
  template <class V>
  static void Visit(std::string_view input, const Answer& a, V& v) {
    if (a.description) {
      answer::VisitLookupFields(a.Input(input), *a.description, v);
    } else {
      answer::VisitErrorFields(a.Input(input), a.error, v);
    }
  }

  // The description of an address already read (by the finder).
  answer::Description Describe(const identifier::ParsedAddress& address) const {
    return answer::Describe(tables_, address);
  }

  // Calls f(match) for every assignment (registry/assignments.h's order),
  // or with a filter for those a holder of which it takes.
  template <class F>
  void ForEachAssignment(const answer::HolderFilter* filter, F&& f) const {
    answer::ForEachAssignment(tables_, [&](const registry::Match& m) {
      if (filter == nullptr || answer::AnyHolderMatches(*filter, m)) f(m);
    });
  }

  // Every registry's table, in registry order, then the prefixes file's
  // when one is in use.
  std::vector<TableInfo> Tables() const;
  // The prefixes file in use (empty for none) and its entries.
  const std::string& prefixesFile() const { return tables_.userPrefixes().file(); }
  size_t prefixesCount() const { return tables_.userPrefixes().entries().size(); }

  const registry::RegistryTables& tables() const { return tables_; }

 private:
  Engine() = default;
  registry::RegistryTables tables_;
};

}  // namespace engine
