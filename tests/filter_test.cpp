// search --filter: the blocks merged, and each filter read by the real tool
// that reads it (tcpdump, tshark, nft) selecting exactly the frames whose
// addresses lie in the blocks; the bpf size known before libpcap sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vessarine/listing/table.h"
#include "vessarine/registry/assignments.h"
#include "vessarine/registry/filters.h"
#include "vessarine/registry/refresh.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using registry::AddressBlock;
using registry::FilterDirection;
using registry::Registry;

namespace {

bool Installed(const char* tool) {
  return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

// The output of a shell command, its stderr dropped (tshark warns when
// run as root).
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The instructions libpcap's optimiser makes of a bpf expression.
size_t TcpdumpCount(const std::string& path) {
  std::istringstream lines(Output("tcpdump -d -F " + Quoted(path)));
  size_t count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind("(", 0) == 0;
  return count;
}

// Whether nft can check a ruleset here (it needs nf_tables).
bool NftChecks(const std::string& dir) {
  const std::string path = dir + "/probe.nft";
  WriteFile(path, "table bridge probe {\n}\n");
  return Installed("nft") && std::system(("nft -c -f " + Quoted(path) + " >/dev/null 2>&1").c_str()) == 0;
}

struct Frame {
  uint64_t dst, src;
};

// A classic pcap file of Ethernet frames, frame i stamped i seconds.
void WritePcap(const std::string& path, const std::vector<Frame>& frames) {
  std::string bytes;
  auto put32 = [&](uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
  auto mac = [&](uint64_t v) {
    for (int i = 5; i >= 0; --i) bytes.push_back(static_cast<char>(v >> (8 * i)));
  };
  put32(0xA1B2C3D4);
  put32(2 | 4 << 16);  // version 2.4
  put32(0);
  put32(0);
  put32(65535);
  put32(1);  // Ethernet
  for (size_t i = 0; i < frames.size(); ++i) {
    put32(static_cast<uint32_t>(i));
    put32(0);
    put32(60);
    put32(60);
    mac(frames[i].dst);
    mac(frames[i].src);
    bytes += "\x88\xB5";  // a local experimental EtherType
    bytes.append(46, '\0');
  }
  WriteFile(path, bytes);
}

std::set<size_t> Numbers(const std::string& lines, size_t base) {
  std::set<size_t> numbers;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) numbers.insert(std::stoul(line) - base);
  }
  return numbers;
}

const char* kDirections[] = {"src", "dst", "either"};

// A prefixes file's lines naming `n` 24-bit blocks from 5C:00:00 "Bulk".
std::string BulkPrefixes(int n) {
  std::string lines;
  for (int i = 0; i < n; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "5c:%02x:%02x Bulk\n", i / 100, i % 100 * 2);  // none touching
    lines += line;
  }
  return lines;
}

class SearchFilter : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    // Holders whose names contain "acme": 24-bit blocks that touch (one /23
    // when merged), a 28-bit block holding a 36-bit one, a lone 36-bit
    // block whose neighbour belongs to someone else.
    Put(Registry::MaL, {{0x001C42, "Acme One", ""}, {0x001C43, "Acme One", ""}, {0xB827EB, "Acme Pi", ""},
                        {0x00000C, "Cisco Systems, Inc", ""}});
    Put(Registry::MaM, {{0x70B3D5E, "Acme Middle", ""}});
    Put(Registry::MaS, {{0x70B3D5E12, "Acme Inner", ""}, {0x70B3D5F2F, "Acme Small", ""}, {0x70B3D5F30, "Other", ""}});
    prefixesFile = xdgDir + "/prefixes";
    WriteFile(prefixesFile, "0a:e6:a6:12:34/40 Acme lab\n0a:e6:a6:99:00:01 Acme host\n");
  }
  static void Put(Registry r, std::vector<registry::Entry> entries) {
    std::string error;
    ASSERT_TRUE(registry::SaveTableImage(r, registry::EncodeImage(r, std::move(entries)), &error)) << error;
  }
  CliRun Search(const std::string& args) { return RunCli(xdgDir, "search " + args + " --prefixes " + Quoted(prefixesFile)); }
  std::string prefixesFile;
};

TEST(MergeBlocks, TouchingAndNestedBlocksBecomeTheFewestAlignedOnes) {
  struct Row {
    const char* what;
    std::vector<AddressBlock> in, out;
  };
  const Row rows[] = {
      {"aligned pair", {{0x001C43ull << 24, 24}, {0x001C42ull << 24, 24}}, {{0x001C42ull << 24, 23}}},
      {"unaligned pair", {{0x001C41ull << 24, 24}, {0x001C42ull << 24, 24}},
       {{0x001C41ull << 24, 24}, {0x001C42ull << 24, 24}}},
      {"nested and repeated",
       {{0x70B3D5E12ull << 12, 36}, {0x70B3D5Eull << 20, 28}, {0x70B3D5Eull << 20, 28}},
       {{0x70B3D5Eull << 20, 28}}},
      {"apart", {{0x0AE6A6990001ull, 48}, {0x0AE6A61234ull << 8, 40}},
       {{0x0AE6A61234ull << 8, 40}, {0x0AE6A6990001ull, 48}}},
      // Three /24s from 00:1C:41: one, then the aligned /23 after it.
      {"run", {{0x001C41ull << 24, 24}, {0x001C42ull << 24, 24}, {0x001C43ull << 24, 24}},
       {{0x001C41ull << 24, 24}, {0x001C42ull << 24, 23}}},
  };
  for (const Row& row : rows) EXPECT_EQ(registry::MergeBlocks(row.in), row.out) << row.what;
}

// Frames from the first, a middle and the last address of every block
// found, and from the addresses just outside, as source and as destination;
// each tool selects exactly those inside for each direction.
TEST_F(SearchFilter, CaptureAndDisplayFiltersSelectExactlyTheBlocksFrames) {
  if (!Installed("tcpdump") || !Installed("tshark")) GTEST_SKIP() << "tcpdump or tshark is not installed";
  const std::vector<AddressBlock> found = {{0x001C42ull << 24, 23}, {0xB827EBull << 24, 24}, {0x70B3D5Eull << 20, 28},
                                           {0x70B3D5F2Full << 12, 36}, {0x0AE6A61234ull << 8, 40},
                                           {0x0AE6A6990001ull, 48}};
  auto inside = [&](uint64_t a) {
    for (const AddressBlock& b : found) {
      if (a >> (48 - b.bits) == b.first >> (48 - b.bits)) return true;
    }
    return false;
  };
  constexpr uint64_t kElsewhere = 0x020000000001;
  std::vector<Frame> frames;
  for (const AddressBlock& b : found) {
    const uint64_t last = b.first + (uint64_t{1} << (48 - b.bits)) - 1;
    for (uint64_t a : {b.first - 1, b.first, b.first + (last - b.first) / 2, last, last + 1}) {
      frames.push_back({kElsewhere, a});
      frames.push_back({a, kElsewhere});
    }
  }
  const std::string pcap = xdgDir + "/frames.pcap";
  WritePcap(pcap, frames);

  for (const char* direction : kDirections) {
    SCOPED_TRACE(direction);
    std::set<size_t> expected;
    for (size_t i = 0; i < frames.size(); ++i) {
      const bool src = inside(frames[i].src), dst = inside(frames[i].dst);
      if (std::string(direction) == "src" ? src : std::string(direction) == "dst" ? dst : src || dst) expected.insert(i);
    }
    CliRun bpf = Search(std::string("acme --filter bpf --direction ") + direction);
    ASSERT_EQ(bpf.status, 0) << bpf.err;
    const std::string expression = xdgDir + "/filter.bpf";
    WriteFile(expression, bpf.out);
    EXPECT_EQ(Numbers(Output("tcpdump -r " + Quoted(pcap) + " -nn -e -tt -F " + Quoted(expression) + " 2>/dev/null" +
                             " | awk '/^[0-9]/ {print int($1)}'"),
                      0),
              expected)
        << bpf.out;

    CliRun display = Search(std::string("acme --filter wireshark --direction ") + direction);
    ASSERT_EQ(display.status, 0) << display.err;
    EXPECT_EQ(Numbers(Output("tshark -r " + Quoted(pcap) + " -T fields -e frame.number -Y " + Quoted(display.out)), 1),
              expected)
        << display.out;
  }
}

TEST_F(SearchFilter, NftAcceptsTheSetAndRules) {
  if (!NftChecks(xdgDir)) GTEST_SKIP() << "nft -c cannot check a ruleset here (no nftables or nf_tables)";
  // Names nft would take for keywords, and a holder with a thousand blocks.
  WriteFile(prefixesFile, BulkPrefixes(1100) + "0a:e6:a6:12:34/40 Acme lab\n0b:00:00 ip\n0c:00:00:00/28 set\n");
  for (const char* args : {"acme", "'acme lab'", "ip", "set", "bulk"}) {
    for (const char* direction : kDirections) {
      CliRun run = Search(std::string(args) + " --filter nft --direction " + direction);
      ASSERT_EQ(run.status, 0) << args << ": " << run.err;
      const std::string path = xdgDir + "/filter.nft";
      WriteFile(path, run.out);
      EXPECT_EQ(Output("nft -c -f " + Quoted(path) + " 2>&1; echo $?"), "0\n") << args << " " << direction;
    }
  }
}

TEST_F(SearchFilter, NoMatchBadTextAndAFilterTooLong) {
  // 1,100 24-bit blocks: either direction passes 4,096 instructions, one alone does not.
  WriteFile(prefixesFile, BulkPrefixes(1100));
  struct Row {
    const char* args;
    int status;
    const char* err;  // in the message, when the status is not 0
  };
  const Row rows[] = {
      {"nobody --filter bpf", 1, "no holder's name contains \"nobody\""},
      {"acme --filter pcap", 2, "--filter"},
      {"acme --direction src", 2, "--direction"},
      {"acme --filter bpf --csv", 2, "--csv"},
      {"acme --filter bpf --direction both", 2, "--direction"},
      {"bulk --filter bpf", 1, "1100 blocks compiles to "},
      {"bulk --filter bpf --direction src", 0, ""},
      {"bulk --filter wireshark", 0, ""},
  };
  for (const Row& row : rows) {
    CliRun run = Search(row.args);
    EXPECT_EQ(run.status, row.status) << row.args << ": " << run.err;
    if (row.status != 0) {
      EXPECT_EQ(run.out, "") << row.args;
      EXPECT_NE(run.err.find(row.err), std::string::npos) << row.args << ": " << run.err;
    }
  }
}

// The size said before libpcap sees the expression: exact for blocks of
// 32 bits or fewer, an upper bound with longer ones.
TEST(BpfInstructionCount, AgreesWithLibpcap) {
  if (!Installed("tcpdump")) GTEST_SKIP() << "tcpdump is not installed";
  const std::string dir = testing::TempDir();
  std::vector<AddressBlock> many, mixed;
  uint64_t seed = 12345;
  for (int i = 0; i < 1000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    many.push_back({(seed >> 40) << 24, 24});
  }
  mixed.assign(many.begin(), many.begin() + 300);
  for (uint64_t i = 0; i < 40; ++i) mixed.push_back({(0x70B3D5Aull << 20) + (i << 16), 32});
  for (uint64_t i = 0; i < 30; ++i) mixed.push_back({(0x70B3D5F20ull + i * 3) << 12, 36});
  mixed.push_back({0x0AE6A6990001ull, 48});
  struct Row {
    const char* what;
    const std::vector<AddressBlock>& blocks;
    bool exact;
  };
  for (const Row& row : {Row{"1000 /24", many, true}, Row{"mixed", mixed, false}}) {
    const auto merged = registry::MergeBlocks(row.blocks);
    for (FilterDirection d : {FilterDirection::Src, FilterDirection::Either}) {
      const registry::FilterText built = registry::BuildFilter(row.blocks, registry::FilterFormat::Bpf, d, "x");
      const size_t model = registry::BpfInstructionCount(merged, d);
      ASSERT_EQ(built.error.empty(), model <= registry::kMaxBpfInstructions) << built.error;
      if (!built.error.empty()) continue;
      WriteFile(dir + "/count.bpf", built.text);
      const size_t real = TcpdumpCount(dir + "/count.bpf");
      ASSERT_GT(real, 0u);
      if (row.exact) {
        EXPECT_EQ(model, real) << row.what;
      } else {  // libpcap shares the tests of heads whose blocks end alike
        EXPECT_GE(model, real) << row.what;
        EXPECT_LE(model, real + real / 10) << row.what;
      }
    }
  }
}

// Debian's registry, whatever its date: the largest holder's filter either
// fits the kernel's limit as libpcap compiles it or is refused with exit 1,
// and nft takes its set.
TEST_F(SearchFilter, LargestHolderFitsOrIsRefused) {
  SKIP_UNLESS_IEEE_DATA();
  if (!Installed("tcpdump")) GTEST_SKIP() << "tcpdump is not installed";
  for (const auto& r : RefreshFolder(kIeeeData)) ASSERT_NE(r.status, registry::RefreshResult::Status::Kept);
  registry::RegistryTables tables;
  tables.Load(stderr);
  std::map<std::string, size_t> blocks;
  registry::ForEachAssignment(tables, [&](const registry::Match& m) { ++blocks[std::string(m.organization)]; });
  const auto largest = std::max_element(blocks.begin(), blocks.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; });
  ASSERT_NE(largest, blocks.end());
  WriteFile(prefixesFile, "");
  const std::string text = Quoted(largest->first);
  for (const char* direction : kDirections) {
    CliRun run = Search(text + " --filter bpf --direction " + direction);
    const std::string path = xdgDir + "/largest.bpf";
    WriteFile(path, run.out);
    if (run.status == 0) {
      EXPECT_LE(TcpdumpCount(path), registry::kMaxBpfInstructions) << largest->first << " " << direction;
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.err.find(" instructions, more than the 4096"), std::string::npos) << run.err;
    }
  }
  if (!NftChecks(xdgDir)) GTEST_SKIP() << "nft -c cannot check a ruleset here (no nftables or nf_tables)";
  CliRun nft = Search(text + " --filter nft");
  ASSERT_EQ(nft.status, 0) << nft.err;
  WriteFile(xdgDir + "/largest.nft", nft.out);
  EXPECT_EQ(Output("nft -c -f " + Quoted(xdgDir + "/largest.nft") + " 2>&1; echo $?"), "0\n");
}

}  // namespace
