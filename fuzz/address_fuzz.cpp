// The identifier reader (lookup's inputs) and the finder (annotate's) on any
// bytes. Aborts (a finding) unless:
// - ParseAddress either takes the input or says why not, an IPv6
//   derivation agrees with the C library's inet_pton, and what it takes
//   reads back the same from its canonical form;
// - every find lies inside the input, in order and without overlap, and
//   ParseAddress takes its text back to the same identifier;
// - fed as annotate feeds it (pieces read one after another, bytes not yet
//   read unseen, the buffer restarting where each scan stopped), and placed
//   after a few bytes of padding (so the 64-byte blocks fall elsewhere), the
//   scanner finds exactly what it finds in the whole input.
// The first byte picks the piece size and the padding.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "vessarine/identifier/address.h"
#include "vessarine/identifier/ipv6.h"
#include "vessarine/identifier/scanner.h"

namespace {

struct Find {
  size_t offset, length;
  identifier::ParsedAddress id;
  bool operator==(const Find& o) const { return offset == o.offset && length == o.length && Same(id, o.id); }
  static bool Same(const identifier::ParsedAddress& a, const identifier::ParsedAddress& b) {
    return a.value == b.value && a.prefixOnly == b.prefixOnly && a.derivedFrom == b.derivedFrom && a.kind == b.kind &&
           a.id == b.id && a.idLow == b.idLow;
  }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<Find> ScanWhole(const char* text, size_t size) {
  std::vector<Find> finds;
  identifier::ScanAddresses(text, 0, size, size, -1,
                          [&](size_t o, size_t l, const identifier::ParsedAddress& a) { finds.push_back({o, l, a}); });
  return finds;
}

// As annotate's Stream does it: `step` more bytes each read, everything up
// to the last line end (or all but the lookahead) settled, the rest moved
// to the front of a buffer that holds only what was read.
std::vector<Find> ScanAsAStream(std::string_view input, size_t step) {
  std::vector<Find> finds;
  size_t base = 0, read = 0;
  int before = -1;
  while (base < input.size()) {
    read = std::min(input.size(), read + step);
    const bool end = read == input.size();
    const size_t size = read - base;
    // Exactly the bytes read so far, so reading past them is a finding.
    std::vector<char> buffer(input.begin() + static_cast<ptrdiff_t>(base), input.begin() + static_cast<ptrdiff_t>(read));
    size_t to = end ? size : (size > identifier::kScanLookahead ? size - identifier::kScanLookahead : 0);
    if (!end) {
      for (size_t i = size; i-- > 0;) {
        if (buffer[i] == '\n') {
          to = std::max(to, i + 1);
          break;
        }
      }
    }
    if (to == 0 && !end) continue;
    const size_t stop = identifier::ScanAddresses(buffer.data(), 0, to, size, before,
                                                [&](size_t o, size_t l, const identifier::ParsedAddress& a) {
                                                  finds.push_back({base + o, l, a});
                                                });
    Check(stop >= to && stop <= size);
    if (end) break;
    before = stop > 0 ? static_cast<unsigned char>(buffer[stop - 1]) : before;
    base += stop;
  }
  return finds;
}

void CheckParse(std::string_view text, identifier::ReadOptions options) {
  std::string error;
  const auto parsed = identifier::ParseAddress(text, &error, options);
  if (!parsed) {
    Check(!error.empty());
    return;
  }
  Check(parsed->value >> 48 == 0);
  Check(identifier::FormatMac(*parsed).size() == (parsed->prefixOnly ? 8u : 17u));
  std::string canonical;
  identifier::AppendCanonical(&canonical, *parsed);
  const auto again = identifier::ParseAddress(canonical, nullptr);
  Check(again && Find::Same(*again, *parsed));
  if (parsed->derivedFrom == identifier::Derivation::Ipv6Eui64) {
    // The address part, before any zone or prefix length, is an IPv6
    // address whose identifier holds this MAC.
    std::string_view address = text.substr(text.find_first_not_of(" \t"));
    address = address.substr(0, address.find_first_of("%/ \t\r"));
    std::string copy(address);
    uint8_t bytes[16];
    Check(::inet_pton(AF_INET6, copy.c_str(), bytes) == 1);
    Check(identifier::MacFromInterfaceId(bytes) == parsed->value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = 1 + data[0] % 97;
  const size_t padding = data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Lookup's parser, on the input's first line as `lookup -` would take it.
  CheckParse(input.substr(0, input.find('\n')), {(data[0] & 1) != 0});

  // The scanner, on exactly the input's bytes.
  std::vector<char> exact(input.begin(), input.end());
  const std::vector<Find> finds = ScanWhole(exact.data(), exact.size());
  size_t last = 0;
  for (const Find& f : finds) {
    Check(f.length > 0 && f.offset >= last && f.offset + f.length <= input.size());
    last = f.offset + f.length;
    const std::string_view text = input.substr(f.offset, f.length);
    const auto parsed = identifier::ParseAddress(text, nullptr);
    Check(parsed && Find::Same(*parsed, f.id));
  }
  Check(ScanAsAStream(input, step) == finds);

  // Shifted by a few bytes that end in a line end, so no find changes.
  std::vector<char> shifted(padding, ' ');
  if (padding != 0) shifted.back() = '\n';
  shifted.insert(shifted.end(), input.begin(), input.end());
  std::vector<Find> moved = ScanWhole(shifted.data(), shifted.size());
  for (Find& f : moved) {
    Check(f.offset >= padding);
    f.offset -= padding;
  }
  Check(moved == finds);
  return 0;
}
