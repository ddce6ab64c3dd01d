#include "vessarine/store/bytes.h"

namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kP3 = 0x165667B19E3779F9ULL;

inline uint64_t Round(uint64_t acc, uint64_t word) { return Rotl64(acc + word * kP2, 31) * kP1; }

}  // namespace

uint64_t Hash64(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t a = kP1 + kP2, b = kP2, c = 0, d = 0 - kP1;
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    a = Round(a, Load64(p + i));
    b = Round(b, Load64(p + i + 8));
    c = Round(c, Load64(p + i + 16));
    d = Round(d, Load64(p + i + 24));
  }
  uint64_t h = Rotl64(a, 1) + Rotl64(b, 7) + Rotl64(c, 12) + Rotl64(d, 18) + size;
  for (; i < size; ++i) h = Rotl64(h ^ (p[i] * kP3), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  return h;
}
