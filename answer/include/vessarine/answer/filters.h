// Filters for the tools that act on a holder's blocks: a libpcap capture
// expression, a Wireshark display filter and an nftables set with the rule
// that uses it, each matching every address of the blocks given and no
// other. Blocks that touch or nest are merged first, and every block is
// matched by its prefix and mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace answer {

// The addresses from `first` (its low 48 - bits bits zero) on, `bits` wide.
struct AddressBlock {
  uint64_t first = 0;
  int bits = 48;
  friend bool operator==(const AddressBlock&, const AddressBlock&) = default;
};

// The same addresses as `blocks`, each once: ranges that touch or overlap
// joined, then cut into the fewest aligned blocks, by first address.
std::vector<AddressBlock> MergeBlocks(std::vector<AddressBlock> blocks);

enum class FilterFormat { Bpf, Wireshark, Nft };
enum class FilterDirection { Src, Dst, Either };  // the address tested

// "bpf", "wireshark", "nft"; "src", "dst", "either". nullopt for any other.
std::optional<FilterFormat> FilterFormatNamed(std::string_view name);
std::optional<FilterDirection> FilterDirectionNamed(std::string_view name);

// What the kernel takes in one socket filter.
inline constexpr size_t kMaxBpfInstructions = 4096;

struct FilterText {
  std::string text;    // the filter, ending in a line end; empty with an error
  std::string error;   // why there is no filter
  size_t instructions = 0;  // bpf: what libpcap compiles it to, at most
};

// The filter matching every address of `blocks` (any order, any overlap)
// as `direction` says. `name` (the text searched for) names the nft set and
// chain. An error for no blocks, and for a bpf filter longer than
// kMaxBpfInstructions.
FilterText BuildFilter(const std::vector<AddressBlock>& blocks, FilterFormat format, FilterDirection direction,
                       std::string_view name);

// The instructions libpcap's optimiser makes of BuildFilter's bpf
// expression for these merged blocks: exact when every block is 32 bits
// or shorter; otherwise never fewer (it may share the tests of two heads
// whose longer blocks end alike).
size_t BpfInstructionCount(const std::vector<AddressBlock>& merged, FilterDirection direction);

}  // namespace answer
