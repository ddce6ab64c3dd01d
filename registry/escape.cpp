#include "vessarine/registry/escape.h"

#include "vessarine/listing/listing.h"

namespace registry {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len <= 1 || i + len > text.size()) return len == 1 ? 1 : 0;
  return IsValidUtf8(text.substr(i, len)) ? len : 0;
}

// Bytes a JSON string or a CSV field takes as they are.
struct PlainTable {
  bool json[256], csv[256];
  constexpr PlainTable() : json(), csv() {
    for (int c = 0; c < 256; ++c) {
      json[c] = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
      csv[c] = c != ',' && c != '"' && c != '\r' && c != '\n';
    }
  }
};
constexpr PlainTable kPlain;

}  // namespace

void AppendJsonString(std::string* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    // Runs of plain bytes go out whole.
    size_t j = i;
    while (j < text.size() && kPlain.json[static_cast<unsigned char>(text[j])]) ++j;
    out->append(text.data() + i, j - i);
    i = j;
    if (i == text.size()) break;
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = Utf8SequenceLength(text, i);
      if (len == 0) {
        *out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out->append(text.substr(i, len));
        i += len;
      }
      continue;
    }
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          *out += "\\u00";
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 15]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out->push_back('"');
}

void AppendCsvField(std::string* out, std::string_view text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (size_t i = 0; i < text.size() && !quote; ++i) quote = !kPlain.csv[static_cast<unsigned char>(text[i])];
  if (!quote) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    const size_t quoteAt = text.find('"', i);
    const size_t end = quoteAt == std::string_view::npos ? text.size() : quoteAt + 1;
    out->append(text.data() + i, end - i);
    if (quoteAt != std::string_view::npos) out->push_back('"');
    i = end;
  }
  out->push_back('"');
}

}  // namespace registry
