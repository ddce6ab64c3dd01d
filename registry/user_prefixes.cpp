#include "vessarine/registry/user_prefixes.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "vessarine/db/cache_files.h"
#include "vessarine/listing/listing.h"
#include "vessarine/store/bytes.h"

namespace registry {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

uint64_t Mask(int bits) { return bits == 0 ? 0 : ~uint64_t{0} << (48 - bits) & 0xFFFFFFFFFFFF; }

// One entry line, or the reason it is none.
std::optional<UserPrefix> ParseLine(std::string_view line, std::string* why) {
  const size_t end = std::min(line.find_first_of(" \t"), line.size());
  std::string_view prefix = line.substr(0, end);
  std::string_view name = line.substr(end);
  while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
  while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);

  std::string_view bitsText;
  const size_t slash = prefix.find('/');
  if (slash != std::string_view::npos) {
    bitsText = prefix.substr(slash + 1);
    prefix = prefix.substr(0, slash);
  }
  uint64_t value = 0;
  int digits = 0;
  for (char c : prefix) {
    if (c == ':' || c == '-' || c == '.') continue;
    const int v = HexDigitValue(c);
    if (v < 0) {
      *why = "'" + std::string(prefix) + "' is not a prefix: hex digits, with ':', '-' or '.' between groups";
      return std::nullopt;
    }
    if (++digits > 12) {
      *why = "'" + std::string(prefix) + "' has more than 12 hex digits";
      return std::nullopt;
    }
    value = value << 4 | static_cast<uint64_t>(v);
  }
  if (digits < 2) {
    *why = "'" + std::string(prefix) + "' is not a prefix of 2 to 12 hex digits";
    return std::nullopt;
  }
  UserPrefix entry;
  entry.bits = digits * 4;
  if (slash != std::string_view::npos) {
    int bits = 0;
    const auto [p, ec] = std::from_chars(bitsText.data(), bitsText.data() + bitsText.size(), bits);
    if (bitsText.empty() || ec != std::errc() || p != bitsText.data() + bitsText.size() || bits < 8 || bits > 48) {
      *why = "'/" + std::string(bitsText) + "' is not a prefix length from 8 to 48";
      return std::nullopt;
    }
    if (bits > digits * 4) {
      *why = "/" + std::to_string(bits) + " is longer than the " + std::to_string(digits) + " digits given";
      return std::nullopt;
    }
    entry.bits = bits;
  }
  entry.first = value << (48 - digits * 4);
  if ((entry.first & ~Mask(entry.bits)) != 0) {
    *why = "'" + std::string(prefix) + "' has digits set beyond its /" + std::to_string(entry.bits);
    return std::nullopt;
  }
  if (name.empty()) {
    *why = "the prefix has no name after it";
    return std::nullopt;
  }
  if (!IsValidUtf8(name)) {
    *why = "the name is not valid UTF-8";
    return std::nullopt;
  }
  entry.name = std::string(name);
  return entry;
}

}  // namespace

std::string UserPrefixes::DefaultPath() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return std::string(config) + "/vessarine/prefixes";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.config/vessarine/prefixes";
  }
  return {};
}

std::optional<UserPrefixes> UserPrefixes::Parse(std::string_view text, std::string file, std::string* error) {
  UserPrefixes out;
  out.file_ = std::move(file);
  int number = 0;
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() == '#') continue;
    std::string why;
    auto entry = ParseLine(line, &why);
    if (!entry) {
      *error = out.file_ + ":" + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
    entry->line = number;
    out.entries_.push_back(std::move(*entry));
  }
  // Longest prefixes first, each length's entries by address: a lookup
  // searches each length once, longest first.
  std::stable_sort(out.entries_.begin(), out.entries_.end(), [](const UserPrefix& a, const UserPrefix& b) {
    return a.bits != b.bits ? a.bits > b.bits : a.first < b.first;
  });
  for (size_t i = 1; i < out.entries_.size(); ++i) {
    const UserPrefix& a = out.entries_[i - 1];
    const UserPrefix& b = out.entries_[i];
    if (a.first == b.first && a.bits == b.bits) {  // the sort is stable: b is the later line
      *error = out.file_ + ":" + std::to_string(b.line) + ": the same prefix as line " + std::to_string(a.line);
      return std::nullopt;
    }
    if (a.bits != b.bits) out.lengthEnds_.push_back(i);
  }
  if (!out.entries_.empty()) out.lengthEnds_.push_back(out.entries_.size());
  return out;
}

std::optional<UserPrefixes> UserPrefixes::Load(const std::string& path, bool required, std::string* error) {
  ReadOnlyFile file;
  std::string problem;
  switch (ReadOnlyFile::Open(path, kMaxUserPrefixesSize, file, true, &problem)) {
    case ReadOnlyFile::Status::Missing:
      if (!required) return UserPrefixes();
      *error = path + ": does not exist";
      return std::nullopt;
    case ReadOnlyFile::Status::Unusable:
      *error = path + ": " + problem;
      return std::nullopt;
    case ReadOnlyFile::Status::Ok:
      break;
  }
  std::string text;
  if (!file.ReadAll(text)) {
    *error = path + ": cannot be read whole";
    return std::nullopt;
  }
  return Parse(text, path, error);
}

std::optional<UserPrefixes> UserPrefixes::LoadFor(const std::string& path, std::string* error) {
  if (!path.empty()) return Load(path, true, error);
  const std::string fallback = DefaultPath();
  if (fallback.empty()) return UserPrefixes();
  return Load(fallback, false, error);
}

const UserPrefix* UserPrefixes::Lookup(uint64_t mac, int maxBits) const {
  auto from = entries_.begin();
  for (size_t end : lengthEnds_) {
    const auto to = entries_.begin() + static_cast<std::ptrdiff_t>(end);
    if (from->bits > maxBits) {
      from = to;
      continue;
    }
    const uint64_t key = mac & Mask(from->bits);
    const auto at = std::lower_bound(from, to, key, [](const UserPrefix& e, uint64_t k) { return e.first < k; });
    if (at != to && at->first == key) return &*at;
    from = to;
  }
  return nullptr;
}

}  // namespace registry
