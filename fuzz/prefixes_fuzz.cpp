// The user's prefixes file parser on any bytes. Aborts (a finding) unless
// the text is either taken or refused with "FILE:LINE: why" for a line that
// exists, and unless every entry taken is sound (a length of 8 to 48, no
// bit set past it, a non-empty UTF-8 name) and the longest-prefix lookup
// agrees with a search of every entry for each entry's first and last
// address and for addresses drawn from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "vessarine/listing/listing.h"
#include "vessarine/registry/user_prefixes.h"
#include "vessarine/text/utf8.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

uint64_t Mask(int bits) { return ~uint64_t{0} << (48 - bits) & 0xFFFFFFFFFFFF; }

// The longest entry covering `mac`, by looking at every one.
const registry::UserPrefix* Slow(const registry::UserPrefixes& p, uint64_t mac) {
  const registry::UserPrefix* best = nullptr;
  for (const registry::UserPrefix& e : p.entries()) {
    if ((mac & Mask(e.bits)) == e.first && (best == nullptr || e.bits > best->bits)) best = &e;
  }
  return best;
}

void Agrees(const registry::UserPrefixes& p, uint64_t mac) {
  const registry::UserPrefix* fast = p.Lookup(mac);
  const registry::UserPrefix* slow = Slow(p, mac);
  Check((fast == nullptr) == (slow == nullptr));
  // Two entries of one length cannot both cover an address: same entry.
  if (fast != nullptr) Check(fast->bits == slow->bits && fast->first == slow->first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  std::string error;
  const auto parsed = registry::UserPrefixes::Parse(text, "f", &error);
  if (!parsed) {
    Check(error.rfind("f:", 0) == 0);
    const size_t line = std::strtoul(error.c_str() + 2, nullptr, 10);
    Check(line >= 1 && line <= lines);
    return 0;
  }
  for (const registry::UserPrefix& e : parsed->entries()) {
    Check(e.bits >= 8 && e.bits <= 48);
    Check((e.first & ~Mask(e.bits)) == 0);
    const std::string_view name = parsed->Name(e);
    Check(!name.empty() && text::IsValidUtf8(name));
    Check(e.line >= 1 && static_cast<size_t>(e.line) <= lines);
    Agrees(*parsed, e.first);
    Agrees(*parsed, e.first | ~Mask(e.bits));
  }
  for (size_t i = 0; i + 6 <= size; i += 6) {
    uint64_t mac = 0;
    for (size_t k = 0; k < 6; ++k) mac = mac << 8 | data[i + k];
    Agrees(*parsed, mac);
  }
  return 0;
}
