// The members of the objects lookup, annotate --json, search and export
// write, in their order, for every writer of them (the JSON text, the
// Python module's dicts), so no writer can name or spell a member its own
// way. A visitor V is called, key by key, with:
//   v.String(key, text)       any bytes; a writer makes invalid UTF-8 U+FFFD
//   v.Ascii(key, append)      append(std::string*) writes an ASCII text
//   v.Null(key), v.Bool(key, b), v.Number(key, uint64_t)
//   v.Lines(key, text)        a list of the '\n'-separated lines
//   v.Holders(key, match)     the further holders (null: none), each an
//                             object of "organization" and "address" lines
//   v.Entry(match)            the members that depend only on the entry
//                             matched (null: none): the visitor calls
//                             VisitEntryFields, and may keep what it makes
//                             of them per entry
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

// A further holder of an assignment: "organization" and "address" lines.
template <class V>
void VisitHolderFields(const listing::TableView::Holder& h, V& v) {
  v.String("organization", h.organization);
  v.Lines("address", h.address);
}

// "source": a user prefix's FILE:LINE, null for an IEEE assignment.
template <class V>
void VisitSource(const registry::Match& m, V& v) {
  if (m.user != nullptr) {
    v.String("source", registry::UserSource(m));
  } else {
    v.Null("source");
  }
}

// "registry" ("user" for a prefix of the user's file), "assignment",
// "bits", "organization", "address", "also", "source" (a user prefix's
// FILE:LINE, else null).
template <class V>
void VisitEntryFields(const registry::Match* m, V& v) {
  if (m == nullptr) {
    v.Null("registry");
    v.Null("assignment");
    v.Null("bits");
    v.Null("organization");
    v.Lines("address", {});
    v.Holders("also", nullptr);
    v.Null("source");
    return;
  }
  v.String("registry", registry::RegistryName(*m));
  v.Ascii("assignment", [m](std::string* out) { registry::AppendPrefixDigits(out, m->prefix, m->bits); });
  v.Number("bits", static_cast<uint64_t>(m->bits));
  v.String("organization", m->organization);
  v.Lines("address", m->address);
  v.Holders("also", m);
  VisitSource(*m, v);
}

// An EUI-64 or a WWN is given as read ("identifier"); a MAC address (also
// one inside an IPv6 address) is its "mac".
inline bool HasIdentifier(const identifier::ParsedAddress& a) {
  return a.kind == identifier::IdentifierKind::Eui64 || a.kind == identifier::IdentifierKind::Wwn;
}

// One lookup: "input", "mac" (null for an EUI-64; a WWN's OUI as three
// bytes), the entry's members, "group", "local", "broadcast", "note",
// "derived_from" ("ipv6-eui64", "wwn-naa5", ... or null), "kind" ("mac",
// "ipv6", "eui64", "wwn") and "identifier" (an EUI-64 or WWN as read,
// canonically, else null).
template <class V>
void VisitLookupFields(std::string_view input, const Description& d, V& v) {
  v.String("input", input);
  if (d.address.kind == identifier::IdentifierKind::Eui64) {
    v.Null("mac");
  } else {
    v.Ascii("mac", [&d](std::string* out) { identifier::AppendMac(out, d.address); });
  }
  v.Entry(d.match ? &*d.match : nullptr);
  v.Bool("group", d.cls.group);
  v.Bool("local", d.cls.local);
  v.Bool("broadcast", d.cls.broadcast);
  if (const std::string_view note = Note(d); !note.empty()) {
    v.String("note", note);
  } else {
    v.Null("note");
  }
  if (d.address.derivedFrom != identifier::Derivation::None) {
    v.String("derived_from", identifier::DerivationName(d.address.derivedFrom));
  } else {
    v.Null("derived_from");
  }
  v.String("kind", identifier::KindName(d.address.kind));
  if (HasIdentifier(d.address)) {
    v.Ascii("identifier", [&d](std::string* out) { identifier::AppendCanonical(out, d.address); });
  } else {
    v.Null("identifier");
  }
}

// An input that is no identifier: "input" and "error".
template <class V>
void VisitErrorFields(std::string_view input, std::string_view error, V& v) {
  v.String("input", input);
  v.String("error", error);
}

// An identifier found in text: the lookup's members of the text found,
// then its 1-based "line" and "column" (in bytes) and the "text" itself.
template <class V>
void VisitFoundFields(std::string_view found, const Description& d, uint64_t line, uint64_t column, V& v) {
  VisitLookupFields(found, d, v);
  v.Number("line", line);
  v.Number("column", column);
  v.String("text", found);
}

// An assignment's row: "registry", "assignment", "bits", "first" and
// "last" (the 48-bit addresses it covers), "first_mac", "last_mac",
// "organization", "address", "also", "source".
template <class V>
void VisitAssignmentFields(const registry::Match& m, V& v) {
  const uint64_t first = FirstAddress(m), last = LastAddress(m);
  v.String("registry", registry::RegistryName(m));
  v.Ascii("assignment", [&m](std::string* out) { registry::AppendPrefixDigits(out, m.prefix, m.bits); });
  v.Number("bits", static_cast<uint64_t>(m.bits));
  v.Number("first", first);
  v.Number("last", last);
  v.Ascii("first_mac", [first](std::string* out) { identifier::AppendMac(out, identifier::ParsedAddress{first, false}); });
  v.Ascii("last_mac", [last](std::string* out) { identifier::AppendMac(out, identifier::ParsedAddress{last, false}); });
  v.String("organization", m.organization);
  v.Lines("address", m.address);
  v.Holders("also", &m);
  VisitSource(m, v);
}

// Writes the members as JSON text, without the braces, onto *out. Entry
// members go through VisitEntryFields each time; describe.cpp's writer
// keeps them per entry.
class JsonFields {
 public:
  explicit JsonFields(std::string* out, bool first = true) : out_(out), first_(first) {}
  void String(std::string_view key, std::string_view text) {
    Put(key, {});
    text::AppendJsonString(out_, text);
  }
  template <class F>
  void Ascii(std::string_view key, F&& append) {
    Put(key, "\"");
    append(out_);
    out_->push_back('"');
  }
  void Null(std::string_view key) { Put(key, "null"); }
  void Bool(std::string_view key, bool value) { Put(key, value ? "true" : "false"); }
  void Number(std::string_view key, uint64_t value);
  void Lines(std::string_view key, std::string_view lines);
  void Holders(std::string_view key, const registry::Match* m);
  void Entry(const registry::Match* m);

 private:
  // `"key":` (after a comma but for the first member) and `value`, written
  // in place with one resize: most members are a few bytes, and appends
  // are most of their cost.
  void Put(std::string_view key, std::string_view value) {
    const size_t comma = first_ ? 0 : 1;
    first_ = false;
    const size_t at = out_->size();
    out_->resize(at + comma + key.size() + 3 + value.size());
    char* p = out_->data() + at;
    if (comma != 0) *p++ = ',';
    *p++ = '"';
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '"';
    *p++ = ':';
    if (!value.empty()) std::memcpy(p, value.data(), value.size());
  }

  std::string* out_;
  bool first_;
};

}  // namespace answer
