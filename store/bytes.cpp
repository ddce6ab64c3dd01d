#include "vessarine/store/bytes.h"

#include <algorithm>

namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kP3 = 0x165667B19E3779F9ULL;

inline uint64_t Round(uint64_t acc, uint64_t word) { return Rotl64(acc + word * kP2, 31) * kP1; }

}  // namespace

Hash64Parts::Hash64Parts() : lanes_{kP1 + kP2, kP2, 0, 0 - kP1}, pending_{} {}

void Hash64Parts::Stripes(const unsigned char* p, size_t size) {
  uint64_t a = lanes_[0], b = lanes_[1], c = lanes_[2], d = lanes_[3];
  for (size_t i = 0; i < size; i += 32) {
    a = Round(a, Load64(p + i));
    b = Round(b, Load64(p + i + 8));
    c = Round(c, Load64(p + i + 16));
    d = Round(d, Load64(p + i + 24));
  }
  lanes_[0] = a, lanes_[1] = b, lanes_[2] = c, lanes_[3] = d;
}

void Hash64Parts::Add(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  size_ += size;
  if (pendingSize_ != 0) {
    const size_t take = std::min(size, sizeof pending_ - pendingSize_);
    std::memcpy(pending_ + pendingSize_, p, take);
    pendingSize_ += take;
    p += take;
    size -= take;
    if (pendingSize_ < sizeof pending_) return;
    Stripes(pending_, sizeof pending_);
    pendingSize_ = 0;
  }
  const size_t whole = size / 32 * 32;
  Stripes(p, whole);
  pendingSize_ = size - whole;
  if (pendingSize_ != 0) std::memcpy(pending_, p + whole, pendingSize_);
}

uint64_t Hash64Parts::Finish() const {
  uint64_t h = Rotl64(lanes_[0], 1) + Rotl64(lanes_[1], 7) + Rotl64(lanes_[2], 12) + Rotl64(lanes_[3], 18) + size_;
  for (size_t i = 0; i < pendingSize_; ++i) h = Rotl64(h ^ (pending_[i] * kP3), 11) * kP1;
  h ^= h >> 33;
  h *= kP2;
  h ^= h >> 29;
  return h;
}

uint64_t Hash64(const void* data, size_t size) {
  Hash64Parts hash;
  hash.Add(data, size);
  return hash.Finish();
}
