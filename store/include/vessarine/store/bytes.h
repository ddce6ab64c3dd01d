// Small readers of bytes that every layer shares: hexadecimal digits, ASCII
// case, unaligned 64-bit words, and the one fast 64-bit hash of a file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The value of one hexadecimal digit of either case; -1 for any other byte.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// ASCII letters folded to one case; every other byte (UTF-8's included) as
// it is.
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Eight bytes as the machine's (little-endian) word, from any address.
inline uint64_t Load64(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

constexpr uint64_t Rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// A fast 64-bit hash over 32-byte stripes (four independent lanes), so
// proving a multi-megabyte file whole costs a fraction of a millisecond:
// the registry tables' checksum and the cache set marker's content hash.
uint64_t Hash64(const void* data, size_t size);

// Hash64 of bytes given in parts, for a file checked a block at a time
// through a small buffer: Finish() after every part, in order, equals
// Hash64 of them joined.
class Hash64Parts {
 public:
  Hash64Parts();
  void Add(const void* data, size_t size);
  uint64_t Finish() const;

 private:
  // Takes `size` bytes, a multiple of 32, into the four lanes.
  void Stripes(const unsigned char* p, size_t size);

  uint64_t lanes_[4];
  unsigned char pending_[32];  // the bytes after the last whole stripe
  size_t pendingSize_ = 0;
  uint64_t size_ = 0;
};
