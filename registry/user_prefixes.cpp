#include "vessarine/registry/user_prefixes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "vessarine/db/cache_files.h"
#include "vessarine/listing/listing.h"
#include "vessarine/identifier/identifier.h"
#include "vessarine/text/escape.h"
#include "vessarine/store/bytes.h"
#include "vessarine/text/utf8.h"

namespace registry {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A token of the line as a message quotes it (a line may be megabytes long).
std::string Quoted(std::string_view token) {
  std::string quoted(1, '\'');
  quoted += text::ShortenedText(token, token.size(), 40);
  quoted += '\'';
  return quoted;
}

uint64_t Mask(int bits) { return bits == 0 ? 0 : ~uint64_t{0} << (48 - bits) & 0xFFFFFFFFFFFF; }

// One entry line into *entry, or false with the reason it is none.
bool ParseLine(std::string_view line, std::string* names, UserPrefix* entry, std::string* why) {
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) ++end;
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
  const int digits = identifier::ReadLooseHex(prefix, 12, &value);
  if (digits < 0) {
    *why = Quoted(prefix) + " is not a prefix: hex digits, with ':', '-' or '.' between groups";
    return false;
  }
  if (digits > 12) {
    *why = Quoted(prefix) + " has more than 12 hex digits";
    return false;
  }
  if (digits < 2) {
    *why = Quoted(prefix) + " is not a prefix of 2 to 12 hex digits";
    return false;
  }
  entry->bits = digits * 4;
  if (slash != std::string_view::npos) {
    int bits = 0;
    const auto [p, ec] = std::from_chars(bitsText.data(), bitsText.data() + bitsText.size(), bits);
    if (bitsText.empty() || ec != std::errc() || p != bitsText.data() + bitsText.size() || bits < 8 || bits > 48) {
      *why = Quoted(std::string("/").append(bitsText)) + " is not a prefix length from 8 to 48";
      return false;
    }
    if (bits > digits * 4) {
      *why = std::string("/").append(std::to_string(bits)) + " is longer than the " + std::to_string(digits) +
             " digits given";
      return false;
    }
    entry->bits = bits;
  }
  entry->first = value << (48 - digits * 4);
  if ((entry->first & ~Mask(entry->bits)) != 0) {
    *why = Quoted(prefix) + " has digits set beyond its /" + std::to_string(entry->bits);
    return false;
  }
  if (name.empty()) {
    *why = "the prefix has no name after it";
    return false;
  }
  if (!text::IsValidUtf8(name)) {
    *why = "the name is not valid UTF-8";
    return false;
  }
  entry->nameAt = static_cast<uint32_t>(names->size());
  entry->nameSize = static_cast<uint32_t>(name.size());
  names->append(name);
  return true;
}

// Sorts entries by address, a byte at a time from the lowest (a stable
// radix sort: equal addresses keep their order), skipping the bytes every
// entry shares: linear in the entries, where a file in no order would
// otherwise cost most of the start.
void SortByAddress(UserPrefix* entries, size_t n) {
  uint64_t some = 0, every = ~uint64_t{0};
  for (size_t i = 0; i < n; ++i) {
    some |= entries[i].first;
    every &= entries[i].first;
  }
  const uint64_t varying = some & ~every;
  std::vector<UserPrefix> buffer(n);
  UserPrefix* from = entries;
  UserPrefix* to = buffer.data();
  for (int shift = 0; shift < 48; shift += 8) {
    if ((varying >> shift & 0xFF) == 0) continue;
    std::array<size_t, 257> at{};
    for (size_t i = 0; i < n; ++i) ++at[(from[i].first >> shift & 0xFF) + 1];
    for (size_t d = 1; d < at.size(); ++d) at[d] += at[d - 1];
    for (size_t i = 0; i < n; ++i) to[at[from[i].first >> shift & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != entries) std::copy(from, from + n, entries);
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

UserPrefixes::UserPrefixes(std::string file, size_t expectedBytes) : file_(std::move(file)) {
  // Room for the most a file of this size could hold; pages are only
  // touched as they fill.
  entries_.reserve(expectedBytes / 16 + 1);
  names_->reserve(expectedBytes);
}

bool UserPrefixes::AddLine(std::string_view line, int number, std::string* error) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || line.front() == '#') return true;
  UserPrefix& entry = entries_.emplace_back();
  std::string why;
  if (!ParseLine(line, names_.get(), &entry, &why)) {
    *error = file_ + ":" + std::to_string(number) + ": " + why;
    return false;
  }
  entry.line = number;
  return true;
}

std::optional<UserPrefixes> UserPrefixes::Parse(std::string_view text, std::string file, std::string* error) {
  UserPrefixes out(std::move(file), text.size());
  for (int number = 1; !text.empty(); ++number) {
    const size_t nl = text.find('\n');
    if (!out.AddLine(text.substr(0, nl), number, error)) return std::nullopt;
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
  }
  if (!out.Finish(error)) return std::nullopt;
  return out;
}

bool UserPrefixes::Finish(std::string* error) {
  // Longest prefixes first, each length's entries by address: a lookup
  // searches each length once, longest first. Grouped by length in file
  // order, then each group sorted unless it already is (files are mostly
  // written in order); ties stay in file order.
  std::array<size_t, 50> starts{};
  for (const UserPrefix& e : entries_) ++starts[static_cast<size_t>(48 - e.bits) + 1];
  for (size_t i = 1; i < starts.size(); ++i) starts[i] += starts[i - 1];
  const bool grouped = std::is_sorted(entries_.begin(), entries_.end(),
                                      [](const UserPrefix& a, const UserPrefix& b) { return a.bits > b.bits; });
  if (!grouped) {
    std::vector<UserPrefix> byLength(entries_.size());
    std::array<size_t, 50> next = starts;
    for (const UserPrefix& e : entries_) byLength[next[static_cast<size_t>(48 - e.bits)]++] = e;
    entries_ = std::move(byLength);
  }
  for (size_t g = 0; g + 1 < starts.size(); ++g) {
    UserPrefix* from = entries_.data() + starts[g];
    const size_t n = starts[g + 1] - starts[g];
    const auto byAddress = [](const UserPrefix& a, const UserPrefix& b) { return a.first < b.first; };
    if (!std::is_sorted(from, from + n, byAddress)) SortByAddress(from, n);
  }
  for (size_t i = 1; i < entries_.size(); ++i) {
    const UserPrefix& a = entries_[i - 1];
    const UserPrefix& b = entries_[i];
    if (a.first == b.first && a.bits == b.bits) {  // ties are in file order: b is the later line
      *error = file_ + ":" + std::to_string(b.line) + ": the same prefix as line " + std::to_string(a.line);
      return false;
    }
    if (a.bits != b.bits) lengthEnds_.push_back(i);
  }
  if (!entries_.empty()) lengthEnds_.push_back(entries_.size());
  return true;
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
  // A block at a time: only the names are kept.
  UserPrefixes out(path, file.size());
  std::vector<char> block(64u << 10);
  size_t held = 0;  // the start of a line not ended yet
  uint64_t offset = 0;
  int number = 1;
  for (;;) {
    if (held == block.size()) block.resize(block.size() * 2);  // a line longer than the block
    const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size() - held, file.size() - offset));
    const ssize_t n = want == 0 ? 0 : file.ReadAt(block.data() + held, want, offset);
    if (n < 0 || (n == 0 && offset != file.size())) {
      *error = path + ": cannot be read whole";
      return std::nullopt;
    }
    offset += static_cast<uint64_t>(n);
    std::string_view text(block.data(), held + static_cast<size_t>(n));
    const bool end = offset == file.size();
    for (size_t nl; (nl = text.find('\n')) != std::string_view::npos; ++number) {
      if (!out.AddLine(text.substr(0, nl), number, error)) return std::nullopt;
      text.remove_prefix(nl + 1);
    }
    if (end) {
      if (!text.empty() && !out.AddLine(text, number, error)) return std::nullopt;
      break;
    }
    held = text.size();
    std::memmove(block.data(), text.data(), held);
  }
  if (!out.Finish(error)) return std::nullopt;
  return out;
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
