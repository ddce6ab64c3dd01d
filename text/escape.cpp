#include "vessarine/text/escape.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdint>
#include <cstring>

#include "vessarine/text/utf8.h"

namespace text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// At text[i], a byte from 0x80 on: appends the valid UTF-8 sequence there,
// or U+FFFD for a byte that begins none; with `c1Too`, U+FFFD for a C1
// control (U+0080 to U+009F) as well. Returns the index after what it took.
size_t AppendNonAscii(std::string* out, std::string_view text, size_t i, bool c1Too) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  const size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > text.size() || !IsValidUtf8(text.substr(i, len))) {
    out->append(kReplacement);
    return i + 1;
  }
  if (c1Too && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
    out->append(kReplacement);
  } else {
    out->append(text.substr(i, len));
  }
  return i + len;
}

// What a CSV field holds that matters: bytes that make it quoted, bytes
// from 0x80 on (which may be invalid UTF-8).
constexpr uint8_t kCsvQuote = 1, kCsvHigh = 2;

// Per byte: whether a JSON string takes it as it is, and what it tells of
// a CSV field.
struct PlainTable {
  bool json[256];
  uint8_t csv[256];
  constexpr PlainTable() : json(), csv() {
    for (int c = 0; c < 256; ++c) {
      json[c] = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
      const bool quote = c == ',' || c == '"' || c == '\r' || c == '\n';
      csv[c] = static_cast<uint8_t>((quote ? kCsvQuote : 0) | (c >= 0x80 ? kCsvHigh : 0));
    }
  }
};
constexpr PlainTable kPlain;

// Length of the run of printable ASCII at text[i], without '"' and '\\'
// for JSON.
template <bool kJson>
size_t PlainRun(std::string_view text, size_t i) {
  const size_t from = i;
#if defined(__SSE2__)
  // Bits of the bytes that are not plain among the 16 at text[at].
  auto notPlain = [&text](size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    // Signed: bytes from 0x80 on are negative, so below 0x20 as well.
    __m128i bad = _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
    if constexpr (kJson) {
      bad = _mm_or_si128(bad, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(bad));
  };
  for (; i + 16 <= text.size(); i += 16) {
    if (const unsigned mask = notPlain(i)) return i + static_cast<size_t>(__builtin_ctz(mask)) - from;
  }
  // The last few bytes in the 16 that end the text, those already seen
  // shifted out.
  if (i < text.size() && text.size() >= 16) {
    const size_t at = text.size() - 16;
    const unsigned mask = notPlain(at) >> (i - at);
    return (mask != 0 ? i + static_cast<size_t>(__builtin_ctz(mask)) : text.size()) - from;
  }
#endif
  // Short texts (most addresses) eight bytes at a time, the last eight
  // overlapping what was seen.
  auto allPlain = [&text](size_t at) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    uint64_t w;
    std::memcpy(&w, text.data() + at, 8);
    auto zeroByte = [](uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    uint64_t bad = (w & kHigh) | ((w - 0x20 * kOnes) & ~w & kHigh) | zeroByte(w ^ (0x7F * kOnes));
    if constexpr (kJson) bad |= zeroByte(w ^ ('"' * kOnes)) | zeroByte(w ^ ('\\' * kOnes));
    return bad == 0;
  };
  while (i + 8 <= text.size() && allPlain(i)) i += 8;
  if (i < text.size() && text.size() >= 8 && i + 8 > text.size() && allPlain(text.size() - 8)) return text.size() - from;
  for (; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!(kJson ? kPlain.json[c] : c >= 0x20 && c < 0x7F)) break;
  }
  return i - from;
}

// Appends text with invalid UTF-8 made U+FFFD and, with `controlsToo`,
// every control character (C0, DEL, C1) as well.
void AppendReplacingInvalid(std::string* out, std::string_view text, bool controlsToo) {
  for (size_t i = 0; i < text.size();) {
    const size_t run = PlainRun<false>(text, i);
    out->append(text.data() + i, run);
    i += run;
    if (i == text.size()) break;
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      i = AppendNonAscii(out, text, i, controlsToo);
    } else {
      // C0 or DEL
      if (controlsToo) {
        out->append(kReplacement);
      } else {
        out->push_back(text[i]);
      }
      ++i;
    }
  }
}

// kCsvQuote and kCsvHigh, as the field has such bytes.
unsigned ScanCsvField(std::string_view text) {
  unsigned found = !text.empty() && (text.front() == ' ' || text.back() == ' ') ? kCsvQuote : 0u;
  size_t i = 0;
#if defined(__SSE2__)
  auto scan = [&](size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const __m128i bad = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
    if (_mm_movemask_epi8(bad) != 0) found |= kCsvQuote;
    if (_mm_movemask_epi8(v) != 0) found |= kCsvHigh;
  };
  for (; i + 16 <= text.size(); i += 16) scan(i);
  // The rest within the last 16 bytes: looking at a byte twice is harmless.
  if (i < text.size() && text.size() >= 16) {
    scan(text.size() - 16);
    return found;
  }
#endif
  for (; i < text.size(); ++i) found |= kPlain.csv[static_cast<unsigned char>(text[i])];
  return found;
}

}  // namespace

void AppendValidUtf8(std::string* out, std::string_view text) { AppendReplacingInvalid(out, text, false); }

void AppendJsonString(std::string* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    // Runs of plain bytes go out whole.
    const size_t run = PlainRun<true>(text, i);
    out->append(text.data() + i, run);
    i += run;
    if (i == text.size()) break;
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      i = AppendNonAscii(out, text, i, false);
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
  // Invalid UTF-8 becomes U+FFFD, as in JSON: a CSV reader would refuse
  // the whole file for one bad byte.
  const unsigned found = ScanCsvField(text);
  if ((found & kCsvHigh) != 0 && !IsValidUtf8(text)) {
    std::string valid;
    AppendReplacingInvalid(&valid, text, false);
    AppendCsvField(out, valid);
    return;
  }
  if ((found & kCsvQuote) == 0) {
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

void AppendDisplayText(std::string* out, std::string_view text) {
  if (PlainRun<false>(text, 0) == text.size()) {
    out->append(text);
  } else {
    AppendReplacingInvalid(out, text, true);
  }
}

std::string DisplayText(std::string_view text) {
  std::string out;
  AppendDisplayText(&out, text);
  return out;
}

std::string ShortenedText(std::string_view start, size_t size, size_t shown) {
  if (size <= shown && start.size() == size) return std::string(start);
  start = start.substr(0, shown);
  size_t lead = start.size();
  while (lead > 0 && start.size() - lead < 3 && (static_cast<unsigned char>(start[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead > 0) {
    const unsigned char c = static_cast<unsigned char>(start[lead - 1]);
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (start.size() - (lead - 1) < length) start = start.substr(0, lead - 1);
  }
  return std::string(start) + "\xE2\x80\xA6 (" + std::to_string(size) + " bytes)";
}

}  // namespace text
