#include "vessarine/listing/listing.h"

#include "vessarine/text/utf8.h"

#include <algorithm>
#include <cstring>

namespace listing {

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
// Appends the field to `out`; `utf8` when the whole listing is known to be
// valid UTF-8 already.
void CleanFieldInto(std::string& out, std::string_view raw, bool utf8) {
  raw = Trim(raw);
  const size_t start = out.size();
  if (utf8 || text::IsValidUtf8(raw)) {
    // Most fields hold nothing to replace: taken as they are.
    bool plain = true;
    for (char ch : raw) {
      const unsigned char c = static_cast<unsigned char>(ch);
      plain = plain && c >= 0x20 && c != 0x7F && c != 0xC2;
    }
    out += raw;
    if (plain) return;
  } else {
    out += ToUtf8(raw);
  }
  size_t w = start;
  for (size_t i = start; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x20 || c == 0x7F) {
      out[w++] = ' ';
    } else if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) < 0xA0) {
      out[w++] = ' ';
      ++i;
    } else {
      out[w++] = out[i];
    }
  }
  out.resize(w);
  // What became spaces at either end goes.
  while (out.size() > start && out.back() == ' ') out.pop_back();
  size_t lead = start;
  while (lead < out.size() && out[lead] == ' ') ++lead;
  out.erase(start, lead - start);
}

// The address lines of an entry as the table keeps them: cleaned, blank
// ones dropped, joined by '\n'.
void TableAddressInto(std::string& out, std::string_view raw, bool utf8) {
  const size_t start = out.size();
  while (!raw.empty()) {
    const size_t nl = raw.find('\n');
    const size_t before = out.size();
    if (before != start) out.push_back('\n');
    CleanFieldInto(out, raw.substr(0, nl), utf8);
    if (out.size() == before + (before != start ? 1 : 0)) out.resize(before);  // a blank line
    if (nl == std::string_view::npos) break;
    raw.remove_prefix(nl + 1);
  }
}

std::string_view TableName(const ListedEntry& e) {
  std::string_view name = Trim(e.name);
  return name.empty() ? e.baseName : name;
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
  // Takes the line Peek just gave.
  void Skip(std::string_view peeked) {
    pos_ = static_cast<size_t>(peeked.data() - bytes_.data()) + peeked.size();
    if (pos_ < bytes_.size() && bytes_[pos_] == '\r') ++pos_;
    ++pos_;
    ++number_;
  }
  size_t number() const { return number_; }
  // Offset of the next line.
  size_t position() const { return pos_ < bytes_.size() ? pos_ : bytes_.size(); }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
  size_t number_ = 0;
};

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool IsCsv(std::string_view firstLine) { return StartsWith(firstLine, "Registry,Assignment"); }

// "00-22-72   (hex)\t\tName": the assignment's 24 bits, and what follows
// "(hex)" as it stands.
bool ParseHexLine(std::string_view line, uint64_t* oui, std::string_view* name) {
  size_t mark = line.find("(hex)");
  if (mark == std::string_view::npos) return false;
  std::string_view key = Trim(line.substr(0, mark));
  if (key.size() != 8 || key[2] != '-' || key[5] != '-') return false;
  std::string digits = {key[0], key[1], key[3], key[4], key[6], key[7]};
  auto v = HexNumber(digits);
  if (!v) return false;
  *oui = *v;
  *name = line.substr(mark + 5);
  return true;
}

bool IsHexLine(std::string_view line) {
  // The key is the line's first word: "XX-XX-XX".
  size_t k = 0;
  while (k < line.size() && IsBlank(line[k])) ++k;
  if (k + 6 > line.size() || line[k + 2] != '-' || line[k + 5] != '-') return false;
  uint64_t oui;
  std::string_view name;
  return ParseHexLine(line, &oui, &name);
}

// The registry a text listing's header names ("OUI/MA-L", "IAB Range", ...).
std::optional<Registry> HeaderRegistry(std::string_view header) {
  // None of the names contains another, so the order does not matter.
  for (Registry r : kAllRegistries) {
    if (header.find(Info(r).name) != std::string_view::npos) return r;
  }
  return std::nullopt;
}

std::string NotThisListing(Registry found, Registry wanted) {
  return "this is the " + std::string(Info(found).name) + " listing, not the " +
         std::string(Info(wanted).name) + " listing";
}

std::string NotTheListing(Registry r) { return "this is not the " + std::string(Info(r).name) + " listing"; }

ParsedListing Refuse(std::string why) {
  ParsedListing result;
  result.refusal = std::move(why);
  return result;
}

// The assignment on a "(base 16)" line: six digits equal to the "(hex)"
// line's for a 24-bit registry, else the range of a finer block below it
// ("B00000-BFFFFF" for 28 bits: one more digit; "F2F000-F2FFFF" for 36:
// three more). Empty with the reason in *why when it is neither.
std::optional<uint64_t> BaseAssignment(std::string_view key, uint64_t oui, Registry r, std::string* why) {
  const int bits = Info(r).bits;
  if (key.size() == 6) {
    if (bits != 24) {
      *why = "24-bit assignment in a listing of " + std::to_string(bits) + "-bit blocks; " + NotTheListing(r);
      return std::nullopt;
    }
    auto v = HexNumber(key);
    if (!v || *v != oui) *why = "assignment does not match the line before";
    return v && *v == oui ? v : std::nullopt;
  }
  if (key.size() != 13 || key[6] != '-') {
    *why = "unreadable assignment \"" + std::string(key) + "\"";
    return std::nullopt;
  }
  if (bits == 24) {
    *why = "range of a finer block; " + NotTheListing(r);
    return std::nullopt;
  }
  const size_t extra = static_cast<size_t>(bits - 24) / 4;
  std::string_view from = key.substr(0, 6), to = key.substr(7);
  auto v = HexNumber(from.substr(0, extra));
  const bool shape = v && from.substr(0, extra) == to.substr(0, extra) &&
                     from.find_first_not_of('0', extra) == std::string_view::npos &&
                     to.find_first_not_of("Ff", extra) == std::string_view::npos;
  if (!shape) {
    // A well-formed range of the other width names the wrong listing.
    *why = "range \"" + std::string(key) + "\" is not a " + std::to_string(bits) + "-bit block; " +
           NotTheListing(r) + " or it is damaged";
    return std::nullopt;
  }
  return (oui << (bits - 24)) | *v;
}

// Address lines run to an empty line or straight into the next entry; the
// entry keeps them as they stand, from the first to the end of the last.
std::string_view TakeAddress(std::string_view bytes, Lines& lines) {
  const size_t begin = lines.position();
  size_t end = begin;
  for (std::string_view next; lines.Peek(&next) && !next.empty() && !IsHexLine(next);) {
    lines.Skip(next);
    end = lines.position();
  }
  return bytes.substr(begin, end - begin);
}

// Columns of indentation before an address line's text: the text form
// indents with tabs or spaces, the store drops that many bytes.
uint8_t AddressIndent(std::string_view address) {
  size_t n = 0;
  while (n < address.size() && n < 4 && IsBlank(address[n])) ++n;
  return static_cast<uint8_t>(n);
}

ParsedListing ParseText(std::string_view bytes, Registry r) {
  Lines lines(bytes);
  ParsedListing result;
  std::string header;
  std::string_view line;
  while (lines.Next(&line)) {
    if (Trim(line).empty()) continue;
    ListedEntry entry;
    if (!ParseHexLine(line, &entry.prefix, &entry.name)) {
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
    const size_t mark = lines.Next(&base) ? base.find("(base 16)") : std::string_view::npos;
    if (mark == std::string_view::npos)
      return Refuse(LineRef(hexLine) + "entry without its \"(base 16)\" line; the listing is cut short or damaged");
    std::string why;
    auto prefix = BaseAssignment(Trim(base.substr(0, mark)), entry.prefix, r, &why);
    if (!prefix) return Refuse(LineRef(lines.number()) + why);
    entry.prefix = *prefix;
    entry.baseName = base.substr(mark + 9);
    entry.address = TakeAddress(bytes, lines);
    entry.indent = AddressIndent(entry.address);
    result.entries.push_back(entry);
  }
  if (result.entries.empty()) return Refuse("holds no registry entry; not a registry listing");
  return result;
}

// One RFC 4180 record's fields. A quoted field may hold commas, doubled
// quotes and line ends; it is undoubled into `unquoted`, reserved up front to
// the listing's size so that the views into it stay valid. An unquoted field
// is a view of the bytes. False when a quoted field never closes.
bool ReadCsvRecord(std::string_view bytes, size_t& pos, size_t& line, std::string& unquoted,
                   std::vector<std::string_view>& fields) {
  fields.clear();
  for (;;) {
    std::string_view field;
    if (pos < bytes.size() && bytes[pos] == '"') {
      const size_t start = unquoted.size();
      for (++pos;; ++pos) {
        if (pos >= bytes.size()) return false;
        const char q = bytes[pos];
        if (q == '"' && (pos + 1 >= bytes.size() || bytes[++pos] != '"')) break;
        if (q == '\n') ++line;
        unquoted.push_back(q);
      }
      field = std::string_view(unquoted).substr(start);
      pos = std::min(bytes.find_first_of(",\n", pos), bytes.size());  // past what trails the quote
    } else {
      const size_t end = std::min(bytes.find_first_of(",\n", pos), bytes.size());
      field = bytes.substr(pos, end - pos);
      if (!field.empty() && field.back() == '\r') field.remove_suffix(1);
      pos = end;
    }
    fields.push_back(field);
    if (pos >= bytes.size() || bytes[pos++] == '\n') {
      ++line;
      return true;
    }
  }
}

ParsedListing ParseCsv(std::string_view bytes, Registry r) {
  const int bits = Info(r).bits;
  ParsedListing result;
  result.unquoted = std::make_unique<std::string>();
  result.unquoted->reserve(bytes.size());
  size_t pos = bytes.find('\n') + 1;  // past the header line
  size_t line = 2;
  std::vector<std::string_view> fields;
  while (pos < bytes.size()) {
    const size_t recordLine = line;
    if (!ReadCsvRecord(bytes, pos, line, *result.unquoted, fields))
      return Refuse(LineRef(recordLine) + "quoted field never closed; the listing is cut short");
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
    result.entries.push_back(ListedEntry{*v, fields[2], fields[2], fields[3], 0, true});
  }
  if (result.entries.empty()) return Refuse("holds no registry entry");
  return result;
}

}  // namespace

std::vector<Entry> TableEntries(const ParsedListing& parsed) {
  std::vector<Entry> entries(parsed.entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListedEntry& e = parsed.entries[i];
    entries[i].prefix = e.prefix;
    CleanFieldInto(entries[i].organization, TableName(e), parsed.utf8);
    TableAddressInto(entries[i].address, e.address, parsed.utf8);
  }
  return entries;
}

std::string EncodeImage(Registry r, const ParsedListing& parsed) {
  // The texts in listing order, the way the bytes lie in memory; the
  // records then in assignment order.
  const size_t n = parsed.entries.size();
  size_t textBytes = 0;
  for (const ListedEntry& e : parsed.entries) textBytes += e.name.size() + e.address.size();
  std::string pool;
  pool.reserve(textBytes + textBytes / 4);
  std::vector<ImageRecord> listed(n);
  for (size_t i = 0; i < n; ++i) {
    const ListedEntry& e = parsed.entries[i];
    ImageRecord& record = listed[i];
    record.orgOffset = static_cast<uint32_t>(pool.size());
    CleanFieldInto(pool, TableName(e), parsed.utf8);
    record.orgLength = static_cast<uint32_t>(pool.size() - record.orgOffset);
    record.addrOffset = static_cast<uint32_t>(pool.size());
    TableAddressInto(pool, e.address, parsed.utf8);
    record.addrLength = static_cast<uint32_t>(pool.size() - record.addrOffset);
  }
  // By assignment, then by place in the listing: of an assignment listed
  // more than once, the first entry is its holder, the others further ones.
  std::vector<std::pair<uint64_t, uint32_t>> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = {parsed.entries[i].prefix, i};
  std::sort(order.begin(), order.end());
  std::vector<uint64_t> keys;
  std::vector<ImageRecord> records;
  std::vector<AlsoRecord> also;
  keys.reserve(n);
  records.reserve(n);
  for (const auto& [prefix, at] : order) {
    if (!keys.empty() && keys.back() == prefix) {
      also.push_back({static_cast<uint32_t>(keys.size() - 1), listed[at]});
    } else {
      keys.push_back(prefix);
      records.push_back(listed[at]);
    }
  }
  return LayOutImage(r, keys, records, also, pool);
}

namespace {

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

std::string ToUtf8(std::string_view text) {
  if (text::IsValidUtf8(text)) return std::string(text);
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
  ParsedListing parsed = IsCsv(FirstLine(bytes)) ? ParseCsv(bytes, r) : ParseText(bytes, r);
  parsed.utf8 = parsed.ok() && text::IsValidUtf8(bytes);
  return parsed;
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

}  // namespace listing
