#include "vessarine/answer/assignments.h"

#include <charconv>
#include <cstring>

#include "vessarine/identifier/address.h"
#include "vessarine/store/bytes.h"
#include "vessarine/answer/fields.h"
#include "vessarine/text/escape.h"

namespace answer {

namespace {

void AppendNumber(std::string* out, uint64_t v) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  out->append(text, end);
}

void AppendAddressText(std::string* out, uint64_t value) { identifier::AppendMac(out, identifier::ParsedAddress{value, false}); }

}  // namespace

namespace {

// The simple lower case of a letter of the Latin, Greek and Cyrillic
// blocks holders' names are written in (Latin-1 Supplement, Latin
// Extended-A, basic Greek and Cyrillic capitals); any other code point is
// itself.
char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return static_cast<char32_t>(AsciiLower(static_cast<char>(c)));
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x178) return 0xFF;
    const bool evenUpper = (c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

// `text` with every letter folded: ASCII byte by byte, two-byte UTF-8
// sequences by code point (their folds are two bytes too); every other
// byte as it is.
void FoldInto(std::string* out, std::string_view text) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out->push_back(AsciiLower(text[i]));
      continue;
    }
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (b >= 0xC2 && b <= 0xDF && (next & 0xC0) == 0x80) {
      const char32_t folded = FoldCodePoint(static_cast<char32_t>((b & 0x1F) << 6 | (next & 0x3F)));
      out->push_back(static_cast<char>(0xC0 | folded >> 6));
      out->push_back(static_cast<char>(0x80 | (folded & 0x3F)));
      ++i;
      continue;
    }
    out->push_back(text[i]);
  }
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

HolderFilter::HolderFilter(std::string_view text) {
  FoldInto(&folded_, text);
  ascii_ = IsAscii(folded_);
}

bool HolderFilter::Matches(std::string_view name) const {
  if (folded_.empty()) return true;
  if (name.size() < folded_.size()) return false;
  if (!IsAscii(name)) {
    // Rare: names with letters beyond ASCII are folded whole.
    thread_local std::string folded;
    FoldInto(&folded, name);
    return folded.find(folded_) != std::string::npos;
  }
  if (!ascii_) return false;
  const char first = folded_[0];
  // Both cases of the first byte are candidates; the rest compare folded.
  const char other = AsciiUpper(first);
  const size_t lastStart = name.size() - folded_.size();
  for (size_t i = 0; i <= lastStart; ++i) {
    if (name[i] != first && name[i] != other) continue;
    size_t k = 1;
    while (k < folded_.size() && AsciiLower(name[i + k]) == folded_[k]) ++k;
    if (k == folded_.size()) return true;
  }
  return false;
}

bool AnyHolderMatches(const HolderFilter& filter, const registry::Match& m) {
  if (filter.Matches(m.organization)) return true;
  for (const listing::TableView::Holder& h : registry::FurtherHolders(m)) {
    if (filter.Matches(h.organization)) return true;
  }
  return false;
}

void AppendJsonLines(std::string* out, std::string_view lines) {
  out->push_back('[');
  for (bool more = !lines.empty(); more;) {
    const size_t nl = lines.find('\n');
    text::AppendJsonString(out, lines.substr(0, nl));
    more = nl != std::string_view::npos;
    if (more) {
      out->push_back(',');
      lines.remove_prefix(nl + 1);
    }
  }
  out->push_back(']');
}

void AppendJsonAlso(std::string* out, const registry::Match& m) {
  out->push_back('[');
  bool first = true;
  for (const listing::TableView::Holder& h : registry::FurtherHolders(m)) {
    if (!first) out->push_back(',');
    first = false;
    out->push_back('{');
    JsonFields members(out);
    VisitHolderFields(h, members);
    out->push_back('}');
  }
  out->push_back(']');
}

void AppendCsvAlso(std::string* out, const registry::Match& m) {
  std::string names;
  for (const listing::TableView::Holder& h : registry::FurtherHolders(m)) {
    if (!names.empty()) names.push_back('\n');
    names += h.organization;
  }
  text::AppendCsvField(out, names);
}

void JsonFields::Number(Key key, uint64_t value) {
  Put(key);
  AppendNumber(out_, value);
}

void JsonFields::Lines(Key key, std::string_view lines) {
  Put(key);
  AppendJsonLines(out_, lines);
}

void JsonFields::Holders(Key key, const registry::Match* m) {
  Put(key);
  if (m != nullptr) {
    AppendJsonAlso(out_, *m);
  } else {
    *out_ += "[]";
  }
}

std::string_view AssignmentCsvHeader() {
  return "registry,assignment,bits,first,last,first_mac,last_mac,organization,address,also,source\r\n";
}

void AppendAssignmentRow(std::string* out, RowFormat format, const registry::Match& m) {
  const std::string_view name = registry::RegistryName(m);
  const std::string digits = registry::AssignmentDigits(m);
  const uint64_t first = FirstAddress(m), last = LastAddress(m);
  switch (format) {
    case RowFormat::Json: {
      out->push_back('{');
      JsonFields members(out);
      VisitAssignmentFields(m, members);
      *out += "}\n";
      break;
    }
    case RowFormat::Csv:
      *out += name;
      out->push_back(',');
      *out += digits;
      out->push_back(',');
      AppendNumber(out, static_cast<uint64_t>(m.bits));
      out->push_back(',');
      AppendNumber(out, first);
      out->push_back(',');
      AppendNumber(out, last);
      out->push_back(',');
      AppendAddressText(out, first);
      out->push_back(',');
      AppendAddressText(out, last);
      out->push_back(',');
      text::AppendCsvField(out, m.organization);
      out->push_back(',');
      text::AppendCsvField(out, m.address);
      out->push_back(',');
      AppendCsvAlso(out, m);
      out->push_back(',');
      text::AppendCsvField(out, registry::UserSource(m));
      *out += "\r\n";
      break;
    case RowFormat::Text: {
      *out += name;
      out->append(6 - name.size(), ' ');
      *out += digits;
      out->append(digits.size() < 11 ? 11 - digits.size() : 1, ' ');
      out->push_back('/');
      AppendNumber(out, static_cast<uint64_t>(m.bits));
      *out += "  ";
      AppendAddressText(out, first);
      out->push_back('-');
      AppendAddressText(out, last);
      *out += "  ";
      text::AppendDisplayText(out, m.organization);  // no control character reaches a terminal
      out->push_back('\n');
      std::string_view rest = m.address;
      while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        out->append(6, ' ');
        text::AppendDisplayText(out, rest.substr(0, nl));
        out->push_back('\n');
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
      }
      for (const listing::TableView::Holder& h : registry::FurtherHolders(m)) {
        *out += "      also: ";
        text::AppendDisplayText(out, h.organization);
        out->push_back('\n');
      }
      if (m.user != nullptr) {
        *out += "      from ";
        text::AppendDisplayText(out, registry::UserSource(m));
        out->push_back('\n');
      }
      break;
    }
  }
}

}  // namespace answer
