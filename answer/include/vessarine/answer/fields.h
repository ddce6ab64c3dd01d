// The members of the objects lookup, annotate --json, search and export
// write, in their order, for every writer of them (the JSON text, the
// Python module's dicts), so no writer can name or spell a member its own
// way. A visitor V is called, key by key, with:
//   v.String(key, text)       (key a Key below) any bytes; a writer makes invalid UTF-8 U+FFFD
//   v.Ascii(key, append)      append(std::string*) writes an ASCII text
//   v.Null(key), v.Bool(key, b), v.Number(key, uint64_t)
//   v.Lines(key, text)        a list of the '\n'-separated lines
//   v.Holders(key, match)     the further holders (null: none), each an
//                             object of "organization" and "address" lines
//   v.Entry(match)            the members that depend only on the entry
//                             matched (null: none): the visitor calls
//                             VisitEntryFields, and may keep what it makes
//                             of them per entry
//   v.Class(description)      the members that depend only on the
//                             address's class and notation: the visitor
//                             calls VisitClassFields, and may keep what it
//                             makes of them per class
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vessarine/answer/assignments.h"
#include "vessarine/answer/describe.h"
#include "vessarine/identifier/identifier.h"
#include "vessarine/text/escape.h"

namespace answer {

// A member's key as a JSON object writes it, `,"name":`, made once here:
// a writer appends it whole, and a writer of names takes name().
struct Key {
  std::string_view json;
  constexpr std::string_view name() const { return json.substr(2, json.size() - 4); }
};

namespace keys {
inline constexpr Key kAddress{",\"address\":"};
inline constexpr Key kAlso{",\"also\":"};
inline constexpr Key kAssignment{",\"assignment\":"};
inline constexpr Key kBits{",\"bits\":"};
inline constexpr Key kBroadcast{",\"broadcast\":"};
inline constexpr Key kColumn{",\"column\":"};
inline constexpr Key kDerivedFrom{",\"derived_from\":"};
inline constexpr Key kError{",\"error\":"};
inline constexpr Key kFirst{",\"first\":"};
inline constexpr Key kFirstMac{",\"first_mac\":"};
inline constexpr Key kGroup{",\"group\":"};
inline constexpr Key kIdentifier{",\"identifier\":"};
inline constexpr Key kInput{",\"input\":"};
inline constexpr Key kKind{",\"kind\":"};
inline constexpr Key kLast{",\"last\":"};
inline constexpr Key kLastMac{",\"last_mac\":"};
inline constexpr Key kLine{",\"line\":"};
inline constexpr Key kLocal{",\"local\":"};
inline constexpr Key kMac{",\"mac\":"};
inline constexpr Key kNote{",\"note\":"};
inline constexpr Key kOrganization{",\"organization\":"};
inline constexpr Key kRegistry{",\"registry\":"};
inline constexpr Key kSource{",\"source\":"};
inline constexpr Key kText{",\"text\":"};
}  // namespace keys

// A further holder of an assignment: "organization" and "address" lines.
template <class V>
void VisitHolderFields(const listing::TableView::Holder& h, V& v) {
  v.String(keys::kOrganization, h.organization);
  v.Lines(keys::kAddress, h.address);
}

// "source": a user prefix's FILE:LINE, null for an IEEE assignment.
template <class V>
void VisitSource(const registry::Match& m, V& v) {
  if (m.user != nullptr) {
    v.String(keys::kSource, registry::UserSource(m));
  } else {
    v.Null(keys::kSource);
  }
}

// "registry" ("user" for a prefix of the user's file), "assignment",
// "bits", "organization", "address", "also", "source" (a user prefix's
// FILE:LINE, else null).
template <class V>
void VisitEntryFields(const registry::Match* m, V& v) {
  if (m == nullptr) {
    v.Null(keys::kRegistry);
    v.Null(keys::kAssignment);
    v.Null(keys::kBits);
    v.Null(keys::kOrganization);
    v.Lines(keys::kAddress, {});
    v.Holders(keys::kAlso, nullptr);
    v.Null(keys::kSource);
    return;
  }
  v.String(keys::kRegistry, registry::RegistryName(*m));
  v.Ascii(keys::kAssignment, [m](std::string* out) { registry::AppendPrefixDigits(out, m->prefix, m->bits); });
  v.Number(keys::kBits, static_cast<uint64_t>(m->bits));
  v.String(keys::kOrganization, m->organization);
  v.Lines(keys::kAddress, m->address);
  v.Holders(keys::kAlso, m);
  VisitSource(*m, v);
}

// An EUI-64 or a WWN is given as read ("identifier"); a MAC address (also
// one inside an IPv6 address) is its "mac".
inline bool HasIdentifier(const identifier::ParsedAddress& a) {
  return a.kind == identifier::IdentifierKind::Eui64 || a.kind == identifier::IdentifierKind::Wwn;
}

// "group", "local", "broadcast", "note", "derived_from" ("ipv6-eui64",
// "wwn-naa5", ... or null) and "kind" ("mac", "ipv6", "eui64", "wwn"):
// what the address's bits and notation say. Many addresses say the same,
// so a writer may keep these members' text per class (ClassKey).
template <class V>
void VisitClassFields(const Description& d, V& v) {
  v.Bool(keys::kGroup, d.cls.group);
  v.Bool(keys::kLocal, d.cls.local);
  v.Bool(keys::kBroadcast, d.cls.broadcast);
  if (const std::string_view note = Note(d); !note.empty()) {
    v.String(keys::kNote, note);
  } else {
    v.Null(keys::kNote);
  }
  if (d.address.derivedFrom != identifier::Derivation::None) {
    v.Ascii(keys::kDerivedFrom, [&d](std::string* out) { *out += identifier::DerivationName(d.address.derivedFrom); });
  } else {
    v.Null(keys::kDerivedFrom);
  }
  v.Ascii(keys::kKind, [&d](std::string* out) { *out += identifier::KindName(d.address.kind); });
}

// Everything VisitClassFields reads, as one word and the well-known note
// (a static text, so its address names it): equal keys, equal members.
struct ClassKey {
  uint32_t bits;
  const char* note;
  bool operator==(const ClassKey&) const = default;
};
inline ClassKey ClassKeyOf(const Description& d) {
  return {static_cast<uint32_t>(d.cls.group) | static_cast<uint32_t>(d.cls.local) << 1 |
              static_cast<uint32_t>(d.cls.broadcast) << 2 | static_cast<uint32_t>(d.cls.quadrant) << 3 |
              static_cast<uint32_t>(d.address.derivedFrom) << 11 | static_cast<uint32_t>(d.address.kind) << 19,
          d.cls.note};
}

// One lookup: "input", "mac" (null for an EUI-64; a WWN's OUI as three
// bytes), the entry's members, the class's members, and "identifier" (an
// EUI-64 or WWN as read, canonically, else null).
template <class V>
void VisitLookupFields(std::string_view input, const Description& d, V& v) {
  v.String(keys::kInput, input);
  if (d.address.kind == identifier::IdentifierKind::Eui64) {
    v.Null(keys::kMac);
  } else {
    v.Ascii(keys::kMac, [&d](std::string* out) { identifier::AppendMac(out, d.address); });
  }
  v.Entry(d.match ? &*d.match : nullptr);
  v.Class(d);
  if (HasIdentifier(d.address)) {
    v.Ascii(keys::kIdentifier, [&d](std::string* out) { identifier::AppendCanonical(out, d.address); });
  } else {
    v.Null(keys::kIdentifier);
  }
}

// An input that is no identifier: "input" and "error".
template <class V>
void VisitErrorFields(std::string_view input, std::string_view error, V& v) {
  v.String(keys::kInput, input);
  v.String(keys::kError, error);
}

// An identifier found in text: the lookup's members of the text found,
// then its 1-based "line" and "column" (in bytes) and the "text" itself.
template <class V>
void VisitFoundFields(std::string_view found, const Description& d, uint64_t line, uint64_t column, V& v) {
  VisitLookupFields(found, d, v);
  v.Number(keys::kLine, line);
  v.Number(keys::kColumn, column);
  v.String(keys::kText, found);
}

// An assignment's row: "registry", "assignment", "bits", "first" and
// "last" (the 48-bit addresses it covers), "first_mac", "last_mac",
// "organization", "address", "also", "source".
template <class V>
void VisitAssignmentFields(const registry::Match& m, V& v) {
  const uint64_t first = FirstAddress(m), last = LastAddress(m);
  v.String(keys::kRegistry, registry::RegistryName(m));
  v.Ascii(keys::kAssignment, [&m](std::string* out) { registry::AppendPrefixDigits(out, m.prefix, m.bits); });
  v.Number(keys::kBits, static_cast<uint64_t>(m.bits));
  v.Number(keys::kFirst, first);
  v.Number(keys::kLast, last);
  v.Ascii(keys::kFirstMac, [first](std::string* out) { identifier::AppendMac(out, identifier::ParsedAddress{first, false}); });
  v.Ascii(keys::kLastMac, [last](std::string* out) { identifier::AppendMac(out, identifier::ParsedAddress{last, false}); });
  v.String(keys::kOrganization, m.organization);
  v.Lines(keys::kAddress, m.address);
  v.Holders(keys::kAlso, &m);
  VisitSource(m, v);
}

// Writes the members as JSON text, without the braces, onto *out. Entry
// members go through VisitEntryFields each time; describe.cpp's writer
// keeps them per entry. The small members are inlined into the visit, so
// that each key's length is known where it is copied: a lookup's object
// is a score of short appends, and a call and a copy of unknown length
// for each of them made a JSON lookup a third slower.
class JsonFields {
 public:
  explicit JsonFields(std::string* out, bool first = true) : out_(out), first_(first) {}
  [[gnu::always_inline]] void String(Key key, std::string_view text) {
    Put(key);
    text::AppendJsonString(out_, text);
  }
  template <class F>
  [[gnu::always_inline]] void Ascii(Key key, F&& append) {
    Put(key);
    out_->push_back('"');
    append(out_);
    out_->push_back('"');
  }
  [[gnu::always_inline]] void Null(Key key) {
    Put(key);
    out_->append("null", 4);
  }
  [[gnu::always_inline]] void Bool(Key key, bool value) {
    Put(key);
    if (value) {
      out_->append("true", 4);
    } else {
      out_->append("false", 5);
    }
  }
  void Number(Key key, uint64_t value);
  void Lines(Key key, std::string_view lines);
  void Holders(Key key, const registry::Match* m);
  void Entry(const registry::Match* m);
  void Class(const Description& d);

 private:
  // The key, without its comma for the first member.
  [[gnu::always_inline]] void Put(Key key) {
    if (first_) [[unlikely]] {
      first_ = false;
      out_->append(key.json.data() + 1, key.json.size() - 1);
    } else {
      out_->append(key.json.data(), key.json.size());
    }
  }

  std::string* out_;
  bool first_;
};

}  // namespace answer
