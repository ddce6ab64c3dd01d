#include "vessarine/identifier/identifier.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iterator>

#include "vessarine/identifier/address.h"
#include "vessarine/identifier/ipv6.h"
#include "vessarine/store/bytes.h"

namespace identifier {

namespace {

// HexDigitValue as a table: the finder's checks run once per candidate.
struct HexTable {
  signed char value[256];
  constexpr HexTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = static_cast<signed char>(HexDigitValue(static_cast<char>(i)));
  }
};
constexpr HexTable kHex;

int Hex(int c) { return c < 0 ? -1 : kHex.value[c]; }
bool IsHex(int c) { return Hex(c) >= 0; }
bool IsWord(int c) { return c >= 0 && (Hex(c) >= 0 || (AsciiLower(static_cast<char>(c)) >= 'a' && AsciiLower(static_cast<char>(c)) <= 'z') || c == '_'); }

ParsedAddress Mac(uint64_t value) { return ParsedAddress{value & 0xFFFFFFFFFFFF, false, Derivation::None, IdentifierKind::Mac, 0, 0}; }

ParsedAddress Eui64(uint64_t id) { return ParsedAddress{id >> 16, false, Derivation::None, IdentifierKind::Eui64, id, 0}; }

// What a World Wide Name's registry number is; *problem says why there is
// none (NAA 3 is locally assigned; other types hold no IEEE number).
std::optional<ParsedAddress> Wwn(uint64_t high, uint64_t low, bool wide, std::string* problem) {
  const unsigned naa = static_cast<unsigned>(high >> 60);
  ParsedAddress a{0, false, Derivation::None, IdentifierKind::Wwn, high, low};
  if (wide != (naa == 6)) {
    *problem = wide ? "not a World Wide Name: 32 digits are a 128-bit name, whose first digit (NAA type) is 6"
                    : "not a World Wide Name: NAA type 6 names are 128-bit, 32 digits";
    return std::nullopt;
  }
  switch (naa) {
    case 1:
    case 2:
      // The IEEE address is the last six bytes (NAA 2 has the vendor's
      // twelve bits before them, NAA 1 zeros).
      a.value = high & 0xFFFFFFFFFFFF;
      a.derivedFrom = naa == 1 ? Derivation::WwnNaa1 : Derivation::WwnNaa2;
      return a;
    case 5:
    case 6:
      a.value = (high >> 36 & 0xFFFFFF) << 24;
      a.prefixOnly = true;
      a.derivedFrom = naa == 5 ? Derivation::WwnNaa5 : Derivation::WwnNaa6;
      return a;
    case 3: *problem = "a locally assigned World Wide Name (NAA type 3) carries no registry number"; break;
    default:
      *problem = "a World Wide Name of NAA type " + std::to_string(naa) +
                 " carries no registry number (only types 1, 2, 5 and 6 hold one)";
  }
  return std::nullopt;
}

// The notations read whole: '#' a hex digit, any other byte itself (letters
// in either case).
enum class Reads : uint8_t { Mac, Prefix, Wide, Eui, Wwn, Wwn128 };
struct Notation {
  std::string_view pattern;
  Reads reads;
};
constexpr Notation kNotations[] = {
    {"##-##-##-##-##-##", Reads::Mac},
    {"####.####.####", Reads::Mac},
    {"####-####-####", Reads::Mac},
    {"####:####:####", Reads::Mac},
    {"######-######", Reads::Mac},
    {"######:######", Reads::Mac},
    {"############", Reads::Mac},
    {"##-##-##", Reads::Prefix},
    {"######", Reads::Prefix},
    {"##:##:##:##:##:##:##:##", Reads::Wide},
    {"##-##-##-##-##-##-##-##", Reads::Wide},
    {"####.####.####.####", Reads::Wide},
    {"####:####:####:####", Reads::Wide},
    {"####-####-####-####", Reads::Wide},
    {"######:##########", Reads::Wide},
    {"######-##########", Reads::Wide},
    {"########:########", Reads::Wide},
    {"################", Reads::Wide},
    {"0x################", Reads::Wide},
    {"eui.################", Reads::Eui},
    {"naa.################", Reads::Wwn},
    {"naa.################################", Reads::Wwn128},
    {"wwn-0x################", Reads::Wwn},
    {"wwn-0x################################", Reads::Wwn128},
    {"################################", Reads::Wwn128},  // with --wwn only
};

// The rows of kNotations by length: most inputs meet one or two rows.
constexpr size_t kLongestNotation = 38;
struct NotationIndex {
  // start[length] up to start[length + 1]: the rows of that length; any
  // longer text has none (lengths past kLongestNotation count as one more).
  uint8_t start[kLongestNotation + 3] = {};
  uint8_t rows[std::size(kNotations)] = {};
  constexpr NotationIndex() {
    size_t n = 0;
    for (size_t length = 0; length <= kLongestNotation; ++length) {
      start[length] = static_cast<uint8_t>(n);
      for (size_t r = 0; r < std::size(kNotations); ++r) {
        if (kNotations[r].pattern.size() == length) rows[n++] = static_cast<uint8_t>(r);
      }
    }
    start[kLongestNotation + 1] = start[kLongestNotation + 2] = static_cast<uint8_t>(n);
  }
};
constexpr NotationIndex kNotationIndex;

// The digits of `text` when it is written as `pattern` (high holds what
// does not fit in low).
bool Matches(std::string_view text, std::string_view pattern, uint64_t* high, uint64_t* low) {
  if (text.size() != pattern.size()) return false;
  uint64_t h = 0, l = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (pattern[i] == '#') {
      const int d = Hex(static_cast<unsigned char>(text[i]));
      if (d < 0) return false;
      h = h << 4 | l >> 60;
      l = l << 4 | static_cast<uint64_t>(d);
    } else if (AsciiLower(text[i]) != pattern[i]) {
      return false;
    }
  }
  *high = h;
  *low = l;
  return true;
}

// `groups` bytes of one or two hex digits each, separated by ':' (macOS's
// arp writes 0:c:29:3a:5b:7c).
bool ReadColonBytes(std::string_view text, size_t groups, uint64_t* value) {
  if (text.size() < 2 * groups - 1 || text.size() > 3 * groups - 1) return false;
  uint64_t v = 0;
  size_t pos = 0;
  for (size_t g = 0; g < groups; ++g) {
    if (g != 0) {
      if (pos == text.size() || text[pos] != ':') return false;
      ++pos;
    }
    size_t digits = 0;
    unsigned byte = 0;
    for (int d; pos < text.size() && digits < 3 && (d = Hex(static_cast<unsigned char>(text[pos]))) >= 0; ++pos, ++digits)
      byte = byte << 4 | static_cast<unsigned>(d);
    if (digits == 0 || digits > 2) return false;
    v = v << 8 | byte;
  }
  *value = v;
  return pos == text.size();
}

constexpr std::string_view kNotMacLead = "not a MAC address";
constexpr std::string_view kNotMac =
    "not a MAC address; expected six bytes such as 00:0c:29:aa:bb:cc, 0:c:29:aa:bb:cc, "
    "00-0c-29-aa-bb-cc, 000c.29aa.bbcc, 000c-29aa-bbcc, 000c:29aa:bbcc, 000c29-aabbcc, 000c29:aabbcc or "
    "000c29aabbcc, three bytes such as 00:0c:29, an EUI-64 such as 00:12:4b:00:1c:d4:e0:a1, "
    "0002:c903:00a1:b2c3, 0x00124b001cd4e0a1 or eui.0025385b71b00d24, a World Wide Name such as "
    "naa.5000c500a1b2c3d4 or wwn-0x5000c500a1b2c3d4, or an IPv6 address whose interface identifier holds a "
    "MAC address, such as fe80::20c:29ff:feaa:bbcc";

// The MAC address of an IPv6 address given alone; text that does not look
// like an IPv6 address leaves *error empty.
std::optional<uint64_t> ReadIpv6(std::string_view text, std::string* error) {
  const bool looksIpv6 = text.find("::") != std::string_view::npos ||
                         text.find_first_of("%/") != std::string_view::npos ||
                         std::count(text.begin(), text.end(), ':') >= 7;
  if (!looksIpv6 || text.find(':') == std::string_view::npos) return std::nullopt;
  std::string_view address = text;
  if (size_t slash = address.find('/'); slash != std::string_view::npos) {
    const std::string_view length = address.substr(slash + 1);
    unsigned bits = 0;
    bool ok = !length.empty() && length.size() <= 3;
    for (char c : length) {
      ok = ok && c >= '0' && c <= '9';
      bits = bits * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || bits > 128) {
      *error = "not an IPv6 address: the prefix length after '/' must be a number from 0 to 128";
      return std::nullopt;
    }
    address = address.substr(0, slash);
  }
  if (size_t percent = address.find('%'); percent != std::string_view::npos) {
    const std::string_view zone = address.substr(percent + 1);
    bool ok = !zone.empty() && zone.size() <= kMaxIpv6Zone;
    for (char c : zone) ok = ok && IsZoneByte(static_cast<unsigned char>(c));
    if (!ok) {
      *error = "not an IPv6 address: the zone after '%' must be 1 to 15 letters, digits, '_', '-' or '.'";
      return std::nullopt;
    }
    address = address.substr(0, percent);
  }
  uint8_t bytes[16];
  if (!ReadIpv6Bytes(address, bytes)) {
    *error = "not a MAC address nor an IPv6 address" + std::string(kNotMac.substr(kNotMacLead.size()));
    return std::nullopt;
  }
  if (auto mac = MacFromInterfaceId(bytes)) return mac;
  *error =
      "not a MAC address: an IPv6 address whose interface identifier holds no MAC address (it is no "
      "modified EUI-64: its last 64 bits do not have ff:fe in the middle)";
  return std::nullopt;
}

bool StartsFolded(std::string_view text, std::string_view lower) {
  if (text.size() < lower.size()) return false;
  for (size_t i = 0; i < lower.size(); ++i) {
    if (AsciiLower(text[i]) != lower[i]) return false;
  }
  return true;
}

// ---- the finder's exact checks ----

bool HexAt(const TextWindow& t, size_t i) { return IsHex(t.At(i)); }

// `groups` groups of exactly `digits` hex digits separated by `sep`, at p.
bool FixedGroups(const TextWindow& t, size_t p, size_t groups, size_t digits, int sep, uint64_t* value) {
  uint64_t v = 0;
  for (size_t g = 0; g < groups; ++g) {
    const size_t at = p + g * (digits + 1);
    for (size_t k = 0; k < digits; ++k) {
      const int d = Hex(t.At(at + k));
      if (d < 0) return false;
      v = v << 4 | static_cast<uint64_t>(d);
    }
    if (g + 1 < groups && t.At(at + digits) != sep) return false;
  }
  *value = v;
  return true;
}

// Eight two-digit groups separated by `sep` at p, standing apart as the
// six-group form does: its length (23) or 0.
size_t EightGroups(const TextWindow& t, size_t p, int sep, ParsedAddress* found) {
  uint64_t v = 0;
  if (!FixedGroups(t, p, 8, 2, sep, &v) || HexAt(t, p + 23) || t.At(p + 23) == sep) return 0;
  *found = Eui64(v);
  return 23;
}

bool IsRunByte(int c) { return c == ':' || IsHex(c); }

size_t FindIpv6At(const TextWindow& t, size_t s, ParsedAddress* found) {
  if (IsWord(t.Before(s)) || t.Before(s) == '.') return 0;
  size_t e = s;
  while (IsRunByte(t.At(e))) {
    if (++e - s > kMaxIpv6HexText + 1) return 0;
  }
  size_t end = e;  // of the address's groups
  bool colonEnd = false;
  if (end - s >= 2 && t.text[end - 1] == ':' && t.text[end - 2] != ':') {
    --end;  // one ':' after the groups is punctuation
    colonEnd = true;
  }
  if (end - s > kMaxIpv6HexText) return 0;
  uint8_t bytes[16];
  if (!ReadIpv6Bytes(std::string_view(t.text + s, end - s), bytes)) return 0;
  const auto mac = MacFromInterfaceId(bytes);
  if (!mac) return 0;
  size_t token = end;
  if (colonEnd) {
    if (IsWord(t.At(e))) return 0;
  } else {
    if (t.At(token) == '%') {
      // The zone: the run of zone bytes after '%' but for one '.' ending
      // it (a full stop), 1 to 15 bytes.
      size_t z = token + 1;
      for (int c; (c = t.At(z)) >= 0 && IsZoneByte(static_cast<unsigned char>(c));) {
        if (++z - token - 1 > kMaxIpv6Zone + 1) return 0;
      }
      if (z > token + 1 && t.At(z - 1) == '.') --z;
      if (z == token + 1 || z - token - 1 > kMaxIpv6Zone) return 0;
      token = z;
    }
    if (t.At(token) == '/') {
      size_t d = token + 1;
      unsigned bits = 0;
      while (d < t.size && t.text[d] >= '0' && t.text[d] <= '9' && d - token <= 3) {
        bits = bits * 10 + static_cast<unsigned>(t.text[d] - '0');
        ++d;
      }
      if (d == token + 1 || d - token > 4 || bits > 128) return 0;
      if (t.At(d) >= '0' && t.At(d) <= '9') return 0;
      token = d;
    }
    const int after = t.At(token);
    if (IsWord(after) || after == ':' || after == '%' || after == '/') return 0;
    if (after == '.') {
      const int next = t.At(token + 1);
      if (IsWord(next) && !(next >= '0' && next <= '9')) return 0;
      if (token == end && next >= '0' && next <= '9') {
        // A last group of one to three decimal digits before ".digit" may
        // begin a dotted IPv4 tail.
        size_t g = end;
        while (g > s && t.text[g - 1] != ':') --g;
        bool decimal = end - g <= 3;
        for (size_t i = g; i < end && decimal; ++i) decimal = t.text[i] >= '0' && t.text[i] <= '9';
        if (decimal) return 0;
      }
    }
  }
  *found = ParsedAddress{*mac, false, Derivation::Ipv6Eui64, IdentifierKind::Ipv6, 0, 0};
  return token - s;
}

}  // namespace

bool ReadIpv6Bytes(std::string_view text, uint8_t out[16]) {
  char buffer[INET6_ADDRSTRLEN];
  // inet_pton reads up to a NUL: one inside the text must not end it early.
  if (text.size() >= sizeof buffer || text.find('\0') != std::string_view::npos) return false;
  text.copy(buffer, text.size());
  buffer[text.size()] = '\0';
  return ::inet_pton(AF_INET6, buffer, out) == 1;
}

std::optional<ParsedAddress> ParseAddress(std::string_view text, std::string* error, ReadOptions options) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  // The forms the finder takes are most of what people give: its exact
  // check first, on the text alone.
  ParsedAddress found;
  if (text.size() >= 11 && text.size() <= 23 &&
      FindGroupsAt(TextWindow{text.data(), text.size(), -1}, 0, &found) == text.size() &&
      (found.kind == IdentifierKind::Mac || !options.wwn))
    return found;
  std::string problem;
  // /dev/disk/by-id names a disk's WWN so, a partition's with -partN after.
  std::string_view name = text;
  if (StartsFolded(name, "/dev/disk/by-id/")) name.remove_prefix(16);
  if (StartsFolded(name, "wwn-")) {
    if (size_t part = name.rfind("-part"); part != std::string_view::npos && part > 4 && part + 5 < name.size() &&
                                           name.find_first_not_of("0123456789", part + 5) == std::string_view::npos) {
      name = name.substr(0, part);
    }
  } else {
    name = text;
  }
  uint64_t high = 0, low = 0;
  const size_t length = std::min(name.size(), kLongestNotation + 1);
  for (size_t i = kNotationIndex.start[length]; i < kNotationIndex.start[length + 1]; ++i) {
    const Notation& n = kNotations[kNotationIndex.rows[i]];
    if (!Matches(name, n.pattern, &high, &low)) continue;
    switch (n.reads) {
      case Reads::Mac: return Mac(low);
      case Reads::Prefix: return ParsedAddress{low << 24, true, Derivation::None, IdentifierKind::Mac, 0, 0};
      case Reads::Wide:
        if (!options.wwn) return Eui64(low);
        [[fallthrough]];
      case Reads::Wwn:
        if (auto a = Wwn(low, 0, false, &problem)) return a;
        break;
      case Reads::Eui: return Eui64(low);
      case Reads::Wwn128:
        if (n.pattern[0] == '#' && !options.wwn) continue;
        if (auto a = Wwn(high, low, true, &problem)) return a;
        break;
    }
    break;
  }
  uint64_t v = 0;
  if (problem.empty()) {
    if (ReadColonBytes(text, 6, &v)) return Mac(v);
    if (ReadColonBytes(text, 3, &v)) return ParsedAddress{v << 24, true, Derivation::None, IdentifierKind::Mac, 0, 0};
    if (auto mac = ReadIpv6(text, &problem)) {
      return ParsedAddress{*mac, false, Derivation::Ipv6Eui64, IdentifierKind::Ipv6, 0, 0};
    }
  }
  if (error != nullptr) {
    if (!problem.empty()) {
      *error = std::move(problem);
    } else {
      *error = text.empty() ? "empty input; expected a MAC address such as 00:0c:29:aa:bb:cc" : std::string(kNotMac);
    }
  }
  return std::nullopt;
}

std::string_view DerivationName(Derivation d) {
  switch (d) {
    case Derivation::Ipv6Eui64: return "ipv6-eui64";
    case Derivation::WwnNaa1: return "wwn-naa1";
    case Derivation::WwnNaa2: return "wwn-naa2";
    case Derivation::WwnNaa5: return "wwn-naa5";
    case Derivation::WwnNaa6: return "wwn-naa6";
    case Derivation::None: break;
  }
  return {};
}

std::string_view KindName(IdentifierKind k) {
  switch (k) {
    case IdentifierKind::Ipv6: return "ipv6";
    case IdentifierKind::Eui64: return "eui64";
    case IdentifierKind::Wwn: return "wwn";
    case IdentifierKind::Mac: break;
  }
  return "mac";
}

void AppendCanonical(std::string* out, const ParsedAddress& a) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  static constexpr char kLower[] = "0123456789abcdef";
  auto bytes = [&](uint64_t v, int count, const char* digits, char sep) {
    for (int i = count - 1; i >= 0; --i) {
      const unsigned b = static_cast<unsigned>(v >> (8 * i)) & 0xFF;
      out->push_back(digits[b >> 4]);
      out->push_back(digits[b & 15]);
      if (i != 0 && sep != 0) out->push_back(sep);
    }
  };
  switch (a.kind) {
    case IdentifierKind::Mac: AppendMac(out, a); break;
    case IdentifierKind::Ipv6: {
      // The modified EUI-64: ff:fe in the middle, the universal/local bit
      // inverted.
      const uint64_t id = (a.value >> 24 ^ 0x020000) << 40 | uint64_t{0xFFFE} << 24 | (a.value & 0xFFFFFF);
      *out += "fe80:";
      for (int g = 3; g >= 0; --g) {
        out->push_back(':');
        bytes(id >> (16 * g) & 0xFFFF, 2, kLower, 0);
      }
      break;
    }
    case IdentifierKind::Eui64: bytes(a.id, 8, kDigits, ':'); break;
    case IdentifierKind::Wwn:
      *out += "naa.";
      bytes(a.id, 8, kLower, 0);
      if (a.derivedFrom == Derivation::WwnNaa6) bytes(a.idLow, 8, kLower, 0);
      break;
  }
}

int ReadLooseHex(std::string_view text, int maxDigits, uint64_t* value) {
  int digits = 0;
  uint64_t v = 0;
  for (char c : text) {
    if (c == ':' || c == '-' || c == '.') continue;
    const int d = Hex(static_cast<unsigned char>(c));
    if (d < 0) return -1;
    if (++digits > maxDigits) return digits;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  *value = v;
  return digits;
}

size_t FindGroupsAt(const TextWindow& t, size_t p, ParsedAddress* found) {
  const int prev = t.Before(p);
  if (!HexAt(t, p) || IsHex(prev)) return 0;
  // The common case first: two digits a byte, ':' or '-' between.
  if (p + 17 <= t.size) {
    const char* q = t.text + p;
    const char sep = q[2];
    if ((sep == ':' || sep == '-') && prev != static_cast<unsigned char>(sep) && q[5] == sep && q[8] == sep &&
        q[11] == sep && q[14] == sep) {
      uint64_t v = 0;
      int bad = 0;
      for (int g = 0; g < 6; ++g) {
        const int high = kHex.value[static_cast<unsigned char>(q[3 * g])];
        const int low = kHex.value[static_cast<unsigned char>(q[3 * g + 1])];
        bad |= high | low;  // negative when either is no digit
        v = v << 8 | static_cast<uint64_t>((high << 4 | low) & 0xFF);
      }
      const int after = t.At(p + 17);
      if (bad >= 0 && !IsHex(after)) {
        if (after != static_cast<unsigned char>(sep)) {
          *found = Mac(v);
          return 17;
        }
        return EightGroups(t, p, sep, found);
      }
    }
  } else if (const int sep = t.At(p + 2); (sep == ':' || sep == '-') && prev != sep && t.At(p + 17) == sep) {
    if (size_t length = EightGroups(t, p, sep, found)) return length;
  }
  // Six bytes of one or two digits separated by ':'.
  if (prev != ':' && (t.At(p + 1) == ':' || t.At(p + 2) == ':')) {
    size_t q = p;
    uint64_t v = 0;
    bool shortGroup = false, longGroup = false;
    for (int g = 0; g < 6; ++g) {
      if (g != 0) {
        if (t.At(q) != ':') return 0;
        ++q;
      }
      if (!HexAt(t, q)) return 0;
      unsigned byte = static_cast<unsigned>(Hex(t.At(q++)));
      if (HexAt(t, q)) {
        byte = byte << 4 | static_cast<unsigned>(Hex(t.At(q++)));
        longGroup = true;
      } else {
        shortGroup = true;
      }
      v = v << 8 | byte;
    }
    if (HexAt(t, q) || t.At(q) == ':') return 0;
    // One-digit groups are taken as macOS's arp writes them, beside
    // two-digit ones (1:2:3:4:5:6 is a ratio or a version list), and the
    // address stands apart from words.
    if (shortGroup && (!longGroup || IsWord(prev) || IsWord(t.At(q)))) return 0;
    *found = Mac(v);
    return q - p;
  }
  uint64_t v = 0;
  if (prev != '-') {
    if (t.At(p + 2) == '-') {
      if (FixedGroups(t, p, 6, 2, '-', &v) && !HexAt(t, p + 17) && t.At(p + 17) != '-') return *found = Mac(v), 17;
      return 0;
    }
    if (t.At(p + 4) == '-') {
      if (FixedGroups(t, p, 3, 4, '-', &v) && !HexAt(t, p + 14) && t.At(p + 14) != '-') return *found = Mac(v), 14;
      return 0;
    }
    if (t.At(p + 6) == '-') {
      if (FixedGroups(t, p, 2, 6, '-', &v) && !HexAt(t, p + 13) && t.At(p + 13) != '-') return *found = Mac(v), 13;
      return 0;
    }
  }
  if (prev != '.' && t.At(p + 4) == '.') {
    if (FixedGroups(t, p, 3, 4, '.', &v) && !HexAt(t, p + 14) && t.At(p + 14) != '.') return *found = Mac(v), 14;
  }
  return 0;
}

size_t FindMarkedAt(const TextWindow& t, size_t p, ParsedAddress* found) {
  if (IsWord(t.Before(p)) || p >= t.size) return 0;
  const std::string_view rest(t.text + p, std::min<size_t>(t.size - p, 6));
  size_t marker = 0;
  if (StartsFolded(rest, "naa.") || StartsFolded(rest, "eui.")) {
    marker = 4;
  } else if (StartsFolded(rest, "wwn-0x")) {
    marker = 6;
  } else {
    return 0;
  }
  size_t e = p + marker;
  while (HexAt(t, e) && e - p - marker <= 32) ++e;
  const size_t digits = e - p - marker;
  if (IsWord(t.At(e)) || (digits != 16 && (digits != 32 || AsciiLower(t.text[p]) == 'e'))) return 0;
  uint64_t high = 0, low = 0;
  for (size_t i = p + marker; i < e; ++i) {
    high = high << 4 | low >> 60;
    low = low << 4 | static_cast<uint64_t>(Hex(t.At(i)));
  }
  if (AsciiLower(t.text[p]) == 'e') {
    *found = Eui64(low);
    return e - p;
  }
  std::string problem;
  const auto wwn = digits == 32 ? Wwn(high, low, true, &problem) : Wwn(low, 0, false, &problem);
  if (!wwn) return 0;
  *found = *wwn;
  return e - p;
}

size_t FindAt(const TextWindow& t, size_t p, ParsedAddress* found) {
  if (size_t length = FindGroupsAt(t, p, found)) return length;
  if (size_t length = FindMarkedAt(t, p, found)) return length;
  if (IsRunByte(t.At(p)) && !IsRunByte(t.Before(p))) return FindIpv6At(t, p, found);
  return 0;
}

size_t FindIpv6Around(const TextWindow& t, size_t trigger, size_t from, size_t* start, ParsedAddress* found) {
  size_t s = trigger;
  while (s > 0 && IsRunByte(static_cast<unsigned char>(t.text[s - 1]))) {
    if (trigger - --s > kMaxIpv6HexText) return 0;
  }
  if (s == 0 && IsRunByte(t.before)) return 0;  // began before this buffer: seen already
  if (s < from) return 0;
  *start = s;
  return FindIpv6At(t, s, found);
}

}  // namespace identifier
