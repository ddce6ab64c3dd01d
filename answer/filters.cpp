#include "vessarine/answer/filters.h"

#include <algorithm>
#include <map>

#include "vessarine/identifier/address.h"
#include "vessarine/registry/tables.h"

namespace answer {

namespace {

constexpr uint64_t kAllAddresses = (uint64_t{1} << 48) - 1;

constexpr uint64_t BlockSize(int bits) { return uint64_t{1} << (48 - bits); }
constexpr uint64_t LastOf(const AddressBlock& b) { return b.first + BlockSize(b.bits) - 1; }

// The top `bytes` bytes of a 48-bit value as "XX:XX:...".
void AppendBytes(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    if (i > 0) out->push_back(':');
    registry::AppendPrefixDigits(out, (value >> (40 - 8 * i)) & 0xFF, 8);
  }
}

uint64_t MaskOf(int bits) { return kAllAddresses & ~(BlockSize(bits) - 1); }

// The merged blocks as libpcap is best given them: those of 32 bits or
// fewer by length, so one load and one mask serve the blocks of a length;
// longer ones by their first 32 bits, each such head tested once, last.
//
// A conditional jump reaches at most 255 instructions on; libpcap puts an
// unconditional one after any comparison whose target lies further, so a
// long flat list costs two instructions a block. Cut into chunks each
// ending in a test every frame passes (`len >= 12`: no Ethernet frame is
// shorter than its two addresses), a match jumps to its chunk's end, near,
// and only that test needs the long jump: one per chunk.
struct BpfPlan {
  struct Short {
    int bits;
    uint32_t head;  // the first 32 bits
  };
  std::vector<Short> shorts;
  std::map<uint32_t, std::map<int, std::vector<uint16_t>>> longByHead;  // head -> bits -> last 16 bits
  bool chunked = false;
  static constexpr size_t kChunk = 200;  // comparisons; their jumps to the chunk's end stay short
  size_t Chunks() const { return chunked ? std::max<size_t>(1, (shorts.size() + kChunk - 1) / kChunk) : 1; }
  size_t ChunkEnd(size_t c) const { return c + 1 == Chunks() ? shorts.size() : (c + 1) * kChunk; }
};

BpfPlan PlanForBpf(const std::vector<AddressBlock>& merged) {
  BpfPlan p;
  for (const AddressBlock& b : merged) {
    if (b.bits <= 32) {
      p.shorts.push_back({b.bits, static_cast<uint32_t>(b.first >> 16)});
    } else {
      p.longByHead[static_cast<uint32_t>(b.first >> 16)][b.bits].push_back(static_cast<uint16_t>(b.first & 0xFFFF));
    }
  }
  std::stable_sort(p.shorts.begin(), p.shorts.end(),
                   [](const BpfPlan::Short& a, const BpfPlan::Short& b) { return a.bits < b.bits; });
  return p;
}

void AppendBpfTest(std::string* out, int offset, int width, uint64_t mask, uint64_t full, uint64_t value) {
  *out += "ether[";
  *out += std::to_string(offset);
  out->push_back(':');
  *out += std::to_string(width);
  *out += "] ";
  if (mask != full) {
    *out += "& 0x";
    registry::AppendPrefixDigits(out, mask, 8 * width);
    out->push_back(' ');
  }
  *out += "= 0x";
  registry::AppendPrefixDigits(out, value, 8 * width);
}

// Every block tested at the address starting at byte `offset` of the frame.
std::string BpfDirection(const BpfPlan& p, int offset) {
  std::string out;
  for (size_t c = 0; c < p.Chunks(); ++c) {
    std::string tests;
    auto next = [&tests] {
      if (!tests.empty()) tests += " or ";
    };
    for (size_t i = c * BpfPlan::kChunk; i < p.ChunkEnd(c); ++i) {
      next();
      AppendBpfTest(&tests, offset, 4, MaskOf(p.shorts[i].bits) >> 16, 0xFFFFFFFF, p.shorts[i].head);
    }
    for (const auto& [head, byBits] : p.longByHead) {
      if (c + 1 < p.Chunks()) break;  // the longer blocks end the last chunk
      next();
      tests.push_back('(');
      AppendBpfTest(&tests, offset, 4, 0xFFFFFFFF, 0xFFFFFFFF, head);
      tests += " and (";
      bool first = true;
      for (const auto& [bits, tails] : byBits) {
        for (uint16_t tail : tails) {
          if (!first) tests += " or ";
          first = false;
          AppendBpfTest(&tests, offset + 4, 2, MaskOf(bits) & 0xFFFF, 0xFFFF, tail);
        }
      }
      tests += "))";
    }
    if (!out.empty()) out += " or ";
    out += p.chunked ? "((" + tests + ") and len >= 12)" : tests;
  }
  return out;
}

// What libpcap lays out for one direction's tests, in order: loads and
// masks, which jump nowhere, and comparisons. A match goes to the
// accepting return, or in chunks to the chunk's end (its `len` load); a
// head's mismatch skips its blocks to the next head, and the last block of
// a head fails to the end of the direction's tests (the next direction's,
// or the refusing return).
enum Branch : unsigned {
  kNone = 0,
  kAccept = 1,
  kChunkEnd = 2,
  kNextHead = 4,
  kDirectionEnd = 8,
  kIsChunkEnd = 16,  // not a branch: the instruction chunk ends jump to
};

void AppendSteps(std::vector<unsigned>* steps, const BpfPlan& p) {
  const unsigned match = p.chunked ? kChunkEnd : kAccept;
  for (size_t c = 0; c < p.Chunks(); ++c) {
    int loaded = -1;  // the length whose load and mask the accumulator holds
    for (size_t i = c * BpfPlan::kChunk; i < p.ChunkEnd(c); ++i) {
      const int bits = p.shorts[i].bits;
      if (bits != loaded) {
        steps->push_back(kNone);                 // ld
        if (bits < 32) steps->push_back(kNone);  // and
        loaded = bits;
      }
      steps->push_back(match);
    }
    if (c + 1 == p.Chunks() && !p.longByHead.empty()) {
      if (loaded != 32) steps->push_back(kNone);  // ld, unless the 32-bit tests left it
      for (const auto& [head, byBits] : p.longByHead) {
        steps->push_back(kNextHead);
        for (const auto& [bits, tails] : byBits) {
          steps->push_back(kNone);                 // ldh
          if (bits < 48) steps->push_back(kNone);  // and
          steps->insert(steps->end(), tails.size(), match);
        }
        steps->back() |= kDirectionEnd;
      }
    }
    if (p.chunked) {
      steps->push_back(kIsChunkEnd);  // ld #pktlen
      steps->push_back(kAccept);      // jge #12
    }
  }
}

size_t CountInstructions(const BpfPlan& p, FilterDirection direction) {
  std::vector<std::vector<unsigned>> directions(direction == FilterDirection::Either ? 2 : 1);
  for (std::vector<unsigned>& steps : directions) AppendSteps(&steps, p);
  // Positions count the instructions from one to the program's end: the
  // accepting return is 2, the refusing one 1.
  constexpr size_t kAcceptAt = 2;
  size_t after = kAcceptAt;  // the position of the instruction after this one
  for (auto d = directions.rbegin(); d != directions.rend(); ++d) {
    const size_t directionEnd = d == directions.rbegin() ? 1 : after;
    size_t nextHead = directionEnd, chunkEnd = after;
    for (auto it = d->rbegin(); it != d->rend(); ++it) {
      size_t longJumps = 0;
      if ((*it & kAccept) && after - kAcceptAt >= 256) ++longJumps;
      if ((*it & kChunkEnd) && after - chunkEnd >= 256) ++longJumps;
      if ((*it & kNextHead) && after - nextHead >= 256) ++longJumps;
      if ((*it & kDirectionEnd) && after - directionEnd >= 256) ++longJumps;
      after += 1 + longJumps;
      if (*it & kNextHead) nextHead = after;
      if (*it & kIsChunkEnd) chunkEnd = after;
    }
  }
  return after;
}

// The plan for these blocks, chunked when that compiles shorter.
BpfPlan BestPlan(const std::vector<AddressBlock>& merged, FilterDirection direction, size_t* instructions) {
  BpfPlan p = PlanForBpf(merged);
  *instructions = CountInstructions(p, direction);
  p.chunked = true;
  const size_t chunked = CountInstructions(p, direction);
  if (chunked < *instructions) {
    *instructions = chunked;
  } else {
    p.chunked = false;
  }
  return p;
}

// Lowercase ASCII letters and digits of `text`, every other run one '_',
// at most 32 characters; "holder" when nothing is left. Always starts with
// a letter, as nft's names must; set and chain add a suffix, since a bare
// word may be one of nft's keywords ("ip", "set").
std::string NftName(std::string_view text) {
  std::string name;
  for (char c : text) {
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9')) {
      name.push_back(lower);
    } else if (!name.empty() && name.back() != '_') {
      name.push_back('_');
    }
    if (name.size() == 32) break;
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  if (name.empty()) return "holder";
  if (name[0] < 'a') name.insert(0, "holder_");
  return name;
}

std::string WiresharkFilter(const std::vector<AddressBlock>& merged, FilterDirection direction) {
  const char* field = direction == FilterDirection::Src ? "eth.src" : direction == FilterDirection::Dst ? "eth.dst" : "eth.addr";
  std::string out;
  for (const AddressBlock& b : merged) {
    const int bytes = std::max(1, (b.bits + 7) / 8);
    if (!out.empty()) out += " or ";
    out += field;
    out += "[0:";
    out += std::to_string(bytes);
    out += "] ";
    if (b.bits % 8 != 0 || b.bits == 0) {
      out += "& ";
      AppendBytes(&out, MaskOf(b.bits), bytes);
      out.push_back(' ');
    }
    out += "== ";
    AppendBytes(&out, b.first, bytes);
  }
  return out + "\n";
}

std::string NftFilter(const std::vector<AddressBlock>& merged, FilterDirection direction, std::string_view text) {
  const std::string name = NftName(text), set = name + "_blocks";
  std::string out =
      "# Load with nft -f. The set and the rule serve a netdev table too, in a\n"
      "# chain hooked at a device's ingress.\n"
      "table bridge vessarine {\n"
      "\tset " + set + " {\n"
      "\t\ttype ether_addr\n"
      "\t\tflags interval\n"
      "\t\telements = {\n";
  for (size_t i = 0; i < merged.size(); ++i) {
    out += "\t\t\t";
    identifier::AppendMac(&out, identifier::ParsedAddress{merged[i].first, false});
    out.push_back('/');
    out += std::to_string(merged[i].bits);
    out += i + 1 < merged.size() ? ",\n" : "\n";
  }
  out += "\t\t}\n\t}\n\n\tchain " + name + "_forward {\n"
         "\t\ttype filter hook forward priority filter; policy accept;\n";
  if (direction != FilterDirection::Dst) out += "\t\tether saddr @" + set + " counter drop\n";
  if (direction != FilterDirection::Src) out += "\t\tether daddr @" + set + " counter drop\n";
  return out + "\t}\n}\n";
}

}  // namespace

std::vector<AddressBlock> MergeBlocks(std::vector<AddressBlock> blocks) {
  for (AddressBlock& b : blocks) {
    b.bits = std::clamp(b.bits, 0, 48);
    b.first &= MaskOf(b.bits);
  }
  std::sort(blocks.begin(), blocks.end(),
            [](const AddressBlock& a, const AddressBlock& b) { return a.first < b.first; });
  std::vector<AddressBlock> out;
  for (size_t i = 0; i < blocks.size();) {
    const uint64_t lo = blocks[i].first;
    uint64_t hi = LastOf(blocks[i]);
    for (++i; i < blocks.size() && blocks[i].first <= hi + 1; ++i) hi = std::max(hi, LastOf(blocks[i]));
    // The range [lo, hi] as the largest aligned blocks, left to right.
    for (uint64_t at = lo;;) {
      int bits = 48;
      while (bits > 0 && (at & (BlockSize(bits - 1) - 1)) == 0 && at + BlockSize(bits - 1) - 1 <= hi) --bits;
      out.push_back({at, bits});
      const uint64_t last = at + BlockSize(bits) - 1;
      if (last >= hi) break;
      at = last + 1;
    }
  }
  return out;
}

std::optional<FilterFormat> FilterFormatNamed(std::string_view name) {
  if (name == "bpf") return FilterFormat::Bpf;
  if (name == "wireshark") return FilterFormat::Wireshark;
  if (name == "nft") return FilterFormat::Nft;
  return std::nullopt;
}

std::optional<FilterDirection> FilterDirectionNamed(std::string_view name) {
  if (name == "src") return FilterDirection::Src;
  if (name == "dst") return FilterDirection::Dst;
  if (name == "either") return FilterDirection::Either;
  return std::nullopt;
}

size_t BpfInstructionCount(const std::vector<AddressBlock>& merged, FilterDirection direction) {
  size_t instructions = 0;
  BestPlan(merged, direction, &instructions);
  return instructions;
}

FilterText BuildFilter(const std::vector<AddressBlock>& blocks, FilterFormat format, FilterDirection direction,
                       std::string_view name) {
  FilterText result;
  if (blocks.empty()) {
    result.error = "no blocks to match: a filter would match nothing";
    return result;
  }
  const std::vector<AddressBlock> merged = MergeBlocks(blocks);
  switch (format) {
    case FilterFormat::Bpf: {
      const BpfPlan plan = BestPlan(merged, direction, &result.instructions);
      if (result.instructions > kMaxBpfInstructions) {
        result.error = "the bpf filter for these " + std::to_string(merged.size()) + " blocks compiles to " +
                       std::to_string(result.instructions) + " instructions, more than the " +
                       std::to_string(kMaxBpfInstructions) + " the kernel takes in a socket filter";
        if (direction == FilterDirection::Either) result.error += " (--direction src or dst takes about half)";
        return result;
      }
      if (direction == FilterDirection::Src) {
        result.text = BpfDirection(plan, 6);
      } else if (direction == FilterDirection::Dst) {
        result.text = BpfDirection(plan, 0);
      } else {
        result.text = "(" + BpfDirection(plan, 6) + ") or (" + BpfDirection(plan, 0) + ")";
      }
      result.text.push_back('\n');
      break;
    }
    case FilterFormat::Wireshark: result.text = WiresharkFilter(merged, direction); break;
    case FilterFormat::Nft: result.text = NftFilter(merged, direction, name); break;
  }
  return result;
}

}  // namespace answer
