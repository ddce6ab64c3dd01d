#include "vessarine/listing/listing.h"

#include <cstring>

namespace registry {

namespace {

// Value of exactly `text.size()` hex digits, or nullopt.
std::optional<uint64_t> HexNumber(std::string_view text) {
  if (text.empty() || text.size() > 15) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  return v;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A field as the table keeps it: UTF-8, with control characters (C0, DEL
// and the C1 range that Latin-1 bytes 0x80-0x9F turn into) made spaces, so
// no listing can send terminal control sequences through the output.
std::string CleanField(std::string_view raw) {
  std::string text = ToUtf8(Trim(raw));
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      text[i] = ' ';
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      text.replace(i, 2, " ");
    }
  }
  return std::string(Trim(text));
}

// Address lines of a CSV field (which may span lines): trimmed, blank ones
// dropped, joined by '\n'.
std::string CsvAddress(std::string_view raw) {
  std::string out;
  while (!raw.empty()) {
    size_t nl = raw.find('\n');
    std::string line = CleanField(raw.substr(0, nl));
    if (!line.empty()) {
      if (!out.empty()) out.push_back('\n');
      out += line;
    }
    if (nl == std::string_view::npos) break;
    raw.remove_prefix(nl + 1);
  }
  return out;
}

std::string LineRef(size_t line) { return "line " + std::to_string(line) + ": "; }

// Splits the bytes into lines (without their "\n" or "\r\n").
class Lines {
 public:
  explicit Lines(std::string_view bytes) : bytes_(bytes) {}
  bool Next(std::string_view* line) {
    if (pos_ >= bytes_.size()) return false;
    size_t end = bytes_.find('\n', pos_);
    if (end == std::string_view::npos) end = bytes_.size();
    std::string_view l = bytes_.substr(pos_, end - pos_);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    *line = l;
    return true;
  }
  // Looks at the next line without taking it.
  bool Peek(std::string_view* line) {
    Lines copy = *this;
    return copy.Next(line);
  }
  size_t number() const { return number_; }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  size_t number_ = 0;
};

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool IsCsv(std::string_view firstLine) { return StartsWith(firstLine, "Registry,Assignment"); }

// "00-22-72   (hex)\t\tName": the assignment's 24 bits and the name.
bool ParseHexLine(std::string_view line, uint64_t* oui, std::string_view* name) {
  size_t mark = line.find("(hex)");
  if (mark == std::string_view::npos) return false;
  std::string_view key = Trim(line.substr(0, mark));
  if (key.size() != 8 || key[2] != '-' || key[5] != '-') return false;
  std::string digits = {key[0], key[1], key[3], key[4], key[6], key[7]};
  auto v = HexNumber(digits);
  if (!v) return false;
  *oui = *v;
  *name = Trim(line.substr(mark + 5));
  return true;
}

// The registry a text listing's header names ("OUI/MA-L", "IAB Range", ...).
std::optional<Registry> HeaderRegistry(std::string_view header) {
  // Longest names first would not matter: none contains another.
  for (Registry r : kAllRegistries) {
    if (header.find(Info(r).name) != std::string_view::npos) return r;
  }
  return std::nullopt;
}

std::string NotThisListing(Registry found, Registry wanted) {
  return "this is the " + std::string(Info(found).name) + " listing, not the " +
         std::string(Info(wanted).name) + " listing";
}

ParsedListing Refuse(std::string why) {
  ParsedListing result;
  result.refusal = std::move(why);
  return result;
}

ParsedListing ParseText(std::string_view bytes, Registry r) {
  const int bits = Info(r).bits;
  Lines lines(bytes);
  ParsedListing result;
  std::string header;
  std::string_view line;
  while (lines.Next(&line)) {
    if (Trim(line).empty()) continue;
    uint64_t oui = 0;
    std::string_view name;
    if (!ParseHexLine(line, &oui, &name)) {
      if (!result.entries.empty())
        return Refuse(LineRef(lines.number()) + "text outside any entry; not a registry listing");
      if (header.size() < 4096) header.append(line).push_back('\n');
      continue;
    }
    if (result.entries.empty()) {
      auto named = HeaderRegistry(header);
      if (named && *named != r) return Refuse(NotThisListing(*named, r));
    }
    const size_t hexLine = lines.number();
    std::string_view base;
    size_t mark = std::string_view::npos;
    if (lines.Next(&base)) mark = base.find("(base 16)");
    if (mark == std::string_view::npos)
      return Refuse(LineRef(hexLine) + "entry without its \"(base 16)\" line; the listing is cut short or damaged");
    std::string_view key = Trim(base.substr(0, mark));
    Entry entry;
    if (key.size() == 6) {
      if (bits != 24)
        return Refuse(LineRef(lines.number()) + "24-bit assignment in a listing of " +
                      std::to_string(bits) + "-bit blocks; this is not the " + std::string(Info(r).name) +
                      " listing");
      auto v = HexNumber(key);
      if (!v || *v != oui) return Refuse(LineRef(lines.number()) + "assignment does not match the line before");
      entry.prefix = oui;
    } else if (key.size() == 13 && key[6] == '-') {
      if (bits == 24)
        return Refuse(LineRef(lines.number()) + "range of a finer block; this is not the " +
                      std::string(Info(r).name) + " listing");
      // "B00000-BFFFFF" (28-bit: one more digit) or "F2F000-F2FFFF" (36-bit:
      // three more); the rest of the range runs from all 0 to all F.
      const size_t extra = static_cast<size_t>(bits - 24) / 4;
      std::string_view from = key.substr(0, 6), to = key.substr(7);
      auto v = HexNumber(from.substr(0, extra));
      bool shape = v && from.substr(0, extra) == to.substr(0, extra) &&
                   from.find_first_not_of('0', extra) == std::string_view::npos &&
                   to.find_first_not_of("Ff", extra) == std::string_view::npos;
      if (!shape) {
        // A well-formed range of the other width names the wrong listing.
        return Refuse(LineRef(lines.number()) + "range \"" + std::string(key) + "\" is not a " +
                      std::to_string(bits) + "-bit block; this is not the " + std::string(Info(r).name) +
                      " listing or it is damaged");
      }
      entry.prefix = (oui << (bits - 24)) | *v;
    } else {
      return Refuse(LineRef(lines.number()) + "unreadable assignment \"" + std::string(key) + "\"");
    }
    std::string_view baseName = Trim(base.substr(mark + 9));
    entry.organization = CleanField(name.empty() ? baseName : name);
    // Address lines run to an empty line or straight into the next entry;
    // lines of blanks among them (the older listings have some) are skipped.
    std::string_view next;
    while (lines.Peek(&next)) {
      uint64_t ignored;
      std::string_view ignoredName;
      if (next.empty() || ParseHexLine(next, &ignored, &ignoredName)) break;
      lines.Next(&next);
      if (Trim(next).empty()) continue;
      if (!entry.address.empty()) entry.address.push_back('\n');
      entry.address += CleanField(next);
    }
    result.entries.push_back(std::move(entry));
  }
  if (result.entries.empty()) return Refuse("holds no registry entry; not a registry listing");
  return result;
}

// RFC 4180 records; quoted fields may hold commas, quotes ("") and line ends.
ParsedListing ParseCsv(std::string_view bytes, Registry r) {
  const int bits = Info(r).bits;
  ParsedListing result;
  size_t pos = bytes.find('\n') + 1;  // past the header line
  size_t line = 2;
  std::vector<std::string> fields;
  while (pos < bytes.size()) {
    const size_t recordLine = line;
    fields.clear();
    fields.emplace_back();
    bool endOfRecord = false;
    while (!endOfRecord) {
      if (pos >= bytes.size()) break;
      char c = bytes[pos];
      if (c == '"' && fields.back().empty()) {
        ++pos;
        for (;;) {
          if (pos >= bytes.size())
            return Refuse(LineRef(recordLine) + "quoted field never closed; the listing is cut short");
          char q = bytes[pos++];
          if (q == '"') {
            if (pos < bytes.size() && bytes[pos] == '"') {
              fields.back().push_back('"');
              ++pos;
            } else {
              break;
            }
          } else {
            if (q == '\n') ++line;
            fields.back().push_back(q);
          }
        }
      } else if (c == ',') {
        fields.emplace_back();
        ++pos;
      } else if (c == '\n') {
        ++pos;
        ++line;
        endOfRecord = true;
      } else {
        if (!(c == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n')) fields.back().push_back(c);
        ++pos;
      }
    }
    if (fields.size() == 1 && Trim(fields[0]).empty()) continue;  // empty line
    if (fields.size() != 4)
      return Refuse(LineRef(recordLine) + "expected 4 fields, found " + std::to_string(fields.size()));
    std::string_view reg = Trim(fields[0]);
    if (reg != Info(r).name) {
      auto other = RegistryFromName(reg);
      if (other) return Refuse(NotThisListing(*other, r));
      return Refuse(LineRef(recordLine) + "unknown registry \"" + std::string(reg) + "\"");
    }
    std::string_view assignment = Trim(fields[1]);
    auto v = assignment.size() == static_cast<size_t>(bits / 4) ? HexNumber(assignment) : std::nullopt;
    if (!v) return Refuse(LineRef(recordLine) + "unreadable assignment \"" + std::string(assignment) + "\"");
    Entry entry;
    entry.prefix = *v;
    entry.organization = CleanField(fields[2]);
    entry.address = CsvAddress(fields[3]);
    result.entries.push_back(std::move(entry));
  }
  if (result.entries.empty()) return Refuse("holds no registry entry");
  return result;
}

std::string_view WithoutBom(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return bytes;
}

bool LooksLikeHtml(std::string_view bytes) {
  std::string_view start = Trim(bytes.substr(0, 512));
  while (!start.empty() && (start.front() == '\n')) start = Trim(start.substr(1));
  return !start.empty() && start.front() == '<';
}

std::string_view FirstLine(std::string_view bytes) {
  std::string_view first = bytes.substr(0, bytes.find('\n'));
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  return first;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

std::string ToUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

ParsedListing ParseListing(std::string_view bytes, Registry r) {
  bytes = WithoutBom(bytes);
  if (Trim(bytes).find_first_not_of('\n') == std::string_view::npos) return Refuse("is empty");
  if (LooksLikeHtml(bytes)) return Refuse("is an HTML page, not a registry listing");
  if (bytes.back() != '\n') return Refuse("ends in the middle of a line; the listing is cut short");
  if (std::memchr(bytes.data(), '\0', bytes.size()) != nullptr)
    return Refuse("holds NUL bytes; not a registry listing");
  if (IsCsv(FirstLine(bytes))) return ParseCsv(bytes, r);
  return ParseText(bytes, r);
}

std::optional<Registry> RegistryOfListing(std::string_view bytes) {
  bytes = WithoutBom(bytes);
  Lines lines(bytes);
  std::string_view line;
  if (!lines.Next(&line)) return std::nullopt;
  if (IsCsv(line)) {
    while (lines.Next(&line)) {
      std::string_view reg = Trim(line.substr(0, line.find(',')));
      if (!reg.empty()) return RegistryFromName(reg);
    }
    return std::nullopt;
  }
  std::string header;
  do {
    uint64_t oui;
    std::string_view name;
    if (ParseHexLine(line, &oui, &name)) break;
    header.append(line).push_back('\n');
  } while (header.size() < 4096 && lines.Next(&line));
  if (auto named = HeaderRegistry(header)) return named;
  // Unnamed (the older listings): the block size on the "(base 16)" line.
  std::string_view base;
  if (!lines.Next(&base)) return std::nullopt;
  size_t mark = base.find("(base 16)");
  if (mark == std::string_view::npos) return std::nullopt;
  std::string_view key = Trim(base.substr(0, mark));
  if (key.size() == 6) return Registry::MaL;
  if (key.size() == 13 && key.substr(1, 5) == "00000") return Registry::MaM;
  return std::nullopt;
}

}  // namespace registry
