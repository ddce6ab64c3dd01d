#include "vessarine/registry/assignments.h"

#include <charconv>
#include <cstring>

#include "vessarine/registry/address.h"
#include "vessarine/registry/escape.h"

namespace registry {

namespace {

constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

void AppendNumber(std::string* out, uint64_t v) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  out->append(text, end);
}

void AppendAddressText(std::string* out, uint64_t value) { AppendMac(out, ParsedAddress{value, false}); }

}  // namespace

HolderFilter::HolderFilter(std::string_view text) : folded_(text) {
  for (char& c : folded_) c = FoldAscii(c);
}

bool HolderFilter::Matches(std::string_view name) const {
  if (folded_.empty()) return true;
  if (name.size() < folded_.size()) return false;
  const char first = folded_[0];
  // Both cases of the first byte are candidates; the rest compare folded.
  const char other = first >= 'a' && first <= 'z' ? static_cast<char>(first - ('a' - 'A')) : first;
  const size_t lastStart = name.size() - folded_.size();
  for (size_t i = 0; i <= lastStart; ++i) {
    if (name[i] != first && name[i] != other) continue;
    size_t k = 1;
    while (k < folded_.size() && FoldAscii(name[i + k]) == folded_[k]) ++k;
    if (k == folded_.size()) return true;
  }
  return false;
}

std::string_view AssignmentCsvHeader() {
  return "registry,assignment,bits,first,last,first_mac,last_mac,organization,address\r\n";
}

void AppendAssignmentRow(std::string* out, RowFormat format, const Match& m) {
  const std::string_view name = Info(m.registry).name;
  const std::string digits = AssignmentDigits(m);
  const uint64_t first = FirstAddress(m), last = LastAddress(m);
  switch (format) {
    case RowFormat::Json: {
      *out += "{\"registry\":\"";
      *out += name;
      *out += "\",\"assignment\":\"";
      *out += digits;
      *out += "\",\"bits\":";
      AppendNumber(out, static_cast<uint64_t>(m.bits));
      *out += ",\"first\":";
      AppendNumber(out, first);
      *out += ",\"last\":";
      AppendNumber(out, last);
      *out += ",\"first_mac\":\"";
      AppendAddressText(out, first);
      *out += "\",\"last_mac\":\"";
      AppendAddressText(out, last);
      *out += "\",\"organization\":";
      AppendJsonString(out, m.organization);
      *out += ",\"address\":[";
      std::string_view rest = m.address;
      for (bool more = !rest.empty(); more;) {
        const size_t nl = rest.find('\n');
        AppendJsonString(out, rest.substr(0, nl));
        more = nl != std::string_view::npos;
        if (more) {
          out->push_back(',');
          rest.remove_prefix(nl + 1);
        }
      }
      *out += "]}\n";
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
      AppendCsvField(out, m.organization);
      out->push_back(',');
      AppendCsvField(out, m.address);
      *out += "\r\n";
      break;
    case RowFormat::Text: {
      *out += name;
      out->append(6 - name.size(), ' ');
      *out += digits;
      out->append(11 - digits.size(), ' ');
      out->push_back('/');
      AppendNumber(out, static_cast<uint64_t>(m.bits));
      *out += "  ";
      AppendAddressText(out, first);
      out->push_back('-');
      AppendAddressText(out, last);
      *out += "  ";
      AppendDisplayText(out, m.organization);  // no control character reaches a terminal
      out->push_back('\n');
      std::string_view rest = m.address;
      while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        out->append(6, ' ');
        AppendDisplayText(out, rest.substr(0, nl));
        out->push_back('\n');
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
      }
      break;
    }
  }
}

}  // namespace registry
