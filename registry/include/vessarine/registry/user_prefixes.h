// The user's own names for address prefixes: a text file of lines
// "PREFIX[/BITS] NAME", looked up by longest prefix before the IEEE
// tables. PREFIX is 2 to 12 hex digits, in any notation an address takes
// (':', '-' or '.' between groups, which are ignored); BITS, 8 to 48,
// defaults to four per digit, and digits beyond it must be zero. '#'
// begins a comment line; blank lines are skipped. Any other line that is
// not an entry is an error naming the file and line, never skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

// 24 bytes: a file of 100,000 lines is read at every start.
struct UserPrefix {
  uint64_t first = 0;  // the prefix as the first 48-bit address it covers
  uint32_t nameAt = 0;    // the name (UTF-8): where it is among the names
  uint32_t nameSize = 0;  // and its length
  int32_t line = 0;       // 1-based, in the file
  int32_t bits = 0;
};

// Largest prefixes file read.
inline constexpr size_t kMaxUserPrefixesSize = 16u << 20;

// Names are kept together, apart from the rest of the file's text (which
// is read a block at a time and let go): a UserPrefixes may be moved (the
// names stay where they are) but not copied.

class UserPrefixes {
 public:
  UserPrefixes() = default;
  UserPrefixes(UserPrefixes&&) = default;
  UserPrefixes& operator=(UserPrefixes&&) = default;
  UserPrefixes(const UserPrefixes&) = delete;
  UserPrefixes& operator=(const UserPrefixes&) = delete;

  // $XDG_CONFIG_HOME/vessarine/prefixes, else ~/.config/vessarine/prefixes;
  // empty when neither variable is set.
  static std::string DefaultPath();

  // The entries of `text`, as file `file`; nullopt with "FILE:LINE: what is
  // wrong" in *error.
  static std::optional<UserPrefixes> Parse(std::string_view text, std::string file, std::string* error);
  // Reads `path` (a regular file of bounded size, opened without blocking).
  // A missing file is an error only when `required`; otherwise it holds no
  // entries.
  static std::optional<UserPrefixes> Load(const std::string& path, bool required, std::string* error);
  // The prefixes a command uses: those of `path` when one is given (it must
  // exist), else those of DefaultPath() when it exists.
  static std::optional<UserPrefixes> LoadFor(const std::string& path, std::string* error);

  // The entry with the longest prefix of at most `maxBits` covering `mac`,
  // or null.
  const UserPrefix* Lookup(uint64_t mac, int maxBits = 48) const;

  std::string_view Name(const UserPrefix& p) const { return std::string_view(*names_).substr(p.nameAt, p.nameSize); }
  const std::string& file() const { return file_; }
  const std::vector<UserPrefix>& entries() const { return entries_; }  // longest first, then by address

 private:
  std::string file_;
  explicit UserPrefixes(std::string file, size_t expectedBytes);
  // Takes one line (without its line end) of the file; false with "FILE:LINE:
  // why" in *error when it is neither an entry, a comment nor blank.
  bool AddLine(std::string_view line, int number, std::string* error);
  // Orders the entries for Lookup; false when a prefix is given twice.
  bool Finish(std::string* error);

  std::unique_ptr<std::string> names_ = std::make_unique<std::string>();
  std::vector<UserPrefix> entries_;
  std::vector<size_t> lengthEnds_;  // where the entries of each length end
};

}  // namespace registry
