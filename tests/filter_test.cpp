// search --filter: the blocks merged, and each filter read by the real tool
// that reads it (tcpdump, tshark, nft) selecting exactly the frames whose
// addresses lie in the blocks; the bpf size known before libpcap sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "vessarine/listing/table.h"
#include "vessarine/answer/assignments.h"
#include "vessarine/answer/filters.h"
#include "vessarine/update/table_refresh.h"
#include "tests/registry_support.h"
#include "tests/test_support.h"

using answer::AddressBlock;
using answer::FilterDirection;
using listing::Registry;

namespace {

bool Installed(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null").c_str()) == 0; }

// The standard output of a shell command (tshark warns on stderr as root).
std::string Sh(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

// The numbers that begin its lines, less `base`.
std::set<size_t> Numbers(const std::string& lines, size_t base) {
  std::set<size_t> numbers;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) numbers.insert(std::stoul(line) - base);
  return numbers;
}

bool NftAccepts(const std::string& path) { return Sh("nft -c -f " + path + " >/dev/null 2>&1; echo $?") == "0\n"; }

// Whether nft can check a ruleset here (it needs nf_tables).
bool NftChecks(const std::string& dir) {
  WriteFile(dir + "/probe.nft", "table bridge probe {\n}\n");
  return Installed("nft") && NftAccepts(dir + "/probe.nft");
}

struct Frame {
  uint64_t dst, src;
};

// A classic pcap file of Ethernet frames, frame i stamped i seconds.
void WritePcap(const std::string& path, const std::vector<Frame>& frames) {
  std::string bytes;
  auto put = [&](std::initializer_list<uint32_t> words) {
    for (uint32_t w : words) bytes.append(reinterpret_cast<const char*>(&w), 4);
  };
  auto mac = [&](uint64_t v) {
    for (int i = 5; i >= 0; --i) bytes.push_back(static_cast<char>(v >> (8 * i)));
  };
  put({0xA1B2C3D4, 2 | 4 << 16, 0, 0, 65535, 1});  // version 2.4, Ethernet
  for (size_t i = 0; i < frames.size(); ++i) {
    put({static_cast<uint32_t>(i), 0, 60, 60});
    mac(frames[i].dst);
    mac(frames[i].src);
    bytes += "\x88\xB5";  // a local experimental EtherType
    bytes.append(46, '\0');
  }
  WriteFile(path, bytes);
}

// A prefixes file's lines naming `n` 24-bit blocks from 5C:00:00 on,
// none touching (5C:HH:LL, HH < n / 100, LL even and below 200), named
// `name`; the first, middle and last of them.
std::string BulkPrefixes(int n, const char* name = "Bulk") {
  std::string lines;
  char line[64];
  for (int i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "5c:%02x:%02x %s\n", i / 100, i % 100 * 2, name);
    lines += line;
  }
  return lines;
}
std::vector<AddressBlock> SomeBulkBlocks(int n) {
  std::vector<AddressBlock> some;
  for (int i : {0, n / 2, n - 1}) some.push_back({(0x5C0000ull | (i / 100) << 8 | (i % 100 * 2)) << 24, 24});
  return some;
}

const char* kDirections[] = {"src", "dst", "either"};

class SearchFilter : public CacheHomeTest {
 protected:
  void SetUp() override {
    CacheHomeTest::SetUp();
    prefixes = xdgDir + "/prefixes";
    // Holders whose names contain "acme": 24-bit blocks that touch (one /23
    // when merged), a 28-bit block holding a 36-bit one, a 36-bit block
    // whose neighbour is someone else's; a 40- and a 48-bit prefix of the
    // user's.
    Put(Registry::MaL, {{0x001C42, "Acme One", ""}, {0x001C43, "Acme One", ""}, {0xB827EB, "Acme Pi", ""},
                        {0x00000C, "Cisco Systems, Inc", ""}});
    Put(Registry::MaM, {{0x70B3D5E, "Acme Middle", ""}});
    Put(Registry::MaS, {{0x70B3D5E12, "Acme Inner", ""}, {0x70B3D5F2F, "Acme Small", ""}, {0x70B3D5F30, "Other", ""}});
    WriteFile(prefixes, "0a:e6:a6:12:34/40 Acme lab\n0a:e6:a6:99:00:01 Acme host\n");
  }
  static void Put(Registry r, std::vector<listing::Entry> entries) {
    std::string error;
    ASSERT_TRUE(update::SaveTableImage(r, listing::EncodeImage(r, std::move(entries)), &error)) << error;
  }
  // search ARGS --prefixes, its output also in file `out`.
  CliRun Search(const std::string& args, const std::string& out = "filter") {
    CliRun run = RunCli(xdgDir, "search " + args + " --prefixes " + prefixes);
    WriteFile(xdgDir + "/" + out, run.out);
    return run;
  }
  std::string prefixes;
};

TEST(MergeBlocks, TouchingAndNestedBlocksBecomeTheFewestAlignedOnes) {
  constexpr uint64_t a = 0x001C41ull << 24, b = 0x001C42ull << 24, c = 0x001C43ull << 24;
  const std::vector<AddressBlock> rows[][2] = {
      {{{c, 24}, {b, 24}}, {{b, 23}}},                    // aligned: one block
      {{{a, 24}, {b, 24}}, {{a, 24}, {b, 24}}},           // not aligned: as they were
      {{{a, 24}, {b, 24}, {c, 24}}, {{a, 24}, {b, 23}}},  // a run: the largest aligned
      {{{0x70B3D5E12ull << 12, 36}, {0x70B3D5Eull << 20, 28}, {0x70B3D5Eull << 20, 28}}, {{0x70B3D5Eull << 20, 28}}},
      {{{0x0AE6A6990001ull, 48}, {0x0AE6A61234ull << 8, 40}}, {{0x0AE6A61234ull << 8, 40}, {0x0AE6A6990001ull, 48}}},
  };
  for (const auto& row : rows) EXPECT_EQ(answer::MergeBlocks(row[0]), row[1]) << row[0].size();
}

// Frames from the first, a middle and the last address of every block
// found, and from the addresses just outside, as source and as destination;
// each tool selects exactly those inside, for each direction.
TEST_F(SearchFilter, CaptureAndDisplayFiltersSelectExactlyTheBlocksFrames) {
  if (!Installed("tcpdump") || !Installed("tshark")) GTEST_SKIP() << "tcpdump or tshark is not installed";
  // Also 500 blocks more, so that libpcap is given the expression in chunks.
  WriteFile(prefixes, ReadFile(prefixes) + BulkPrefixes(500, "Acme bulk"));
  std::vector<AddressBlock> found = {{0x001C42ull << 24, 23},     {0xB827EBull << 24, 24},    {0x70B3D5Eull << 20, 28},
                                     {0x70B3D5F2Full << 12, 36}, {0x0AE6A61234ull << 8, 40}, {0x0AE6A6990001ull, 48}};
  for (const AddressBlock& b : SomeBulkBlocks(500)) found.push_back(b);
  auto inside = [&](uint64_t address) {
    const uint64_t hh = address >> 32 & 0xFF, ll = address >> 24 & 0xFF;
    if (address >> 40 == 0x5C) return hh < 5 && ll % 2 == 0 && ll < 200;
    return std::any_of(found.begin(), found.end(), [&](const AddressBlock& b) {
      return address >> (48 - b.bits) == b.first >> (48 - b.bits);
    });
  };
  std::vector<Frame> frames;
  for (const AddressBlock& b : found) {
    const uint64_t last = b.first + (uint64_t{1} << (48 - b.bits)) - 1;
    for (uint64_t address : {b.first - 1, b.first, b.first + (last - b.first) / 2, last, last + 1}) {
      frames.push_back({0x020000000001, address});
      frames.push_back({address, 0x020000000001});
    }
  }
  WritePcap(xdgDir + "/frames.pcap", frames);

  for (const std::string direction : kDirections) {
    SCOPED_TRACE(direction);
    std::set<size_t> expected;
    for (size_t i = 0; i < frames.size(); ++i) {
      const bool src = inside(frames[i].src), dst = inside(frames[i].dst);
      if (direction == "src" ? src : direction == "dst" ? dst : src || dst) expected.insert(i);
    }
    CliRun run = Search("acme --filter bpf --direction " + direction);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Numbers(Sh("cd " + xdgDir + " && tcpdump -r frames.pcap -nn -e -tt -F filter 2>/dev/null | grep '^[0-9]'"), 0),
              expected)
        << run.out;
    run = Search("acme --filter wireshark --direction " + direction);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Numbers(Sh("cd " + xdgDir + " && tshark -r frames.pcap -T fields -e frame.number -Y \"$(cat filter)\""), 1),
              expected)
        << run.out;
  }
}

TEST_F(SearchFilter, NftAcceptsTheSetAndRules) {
  if (!NftChecks(xdgDir)) GTEST_SKIP() << "nft -c cannot check a ruleset here (no nftables or nf_tables)";
  // Texts that are nft keywords, and a holder with a thousand blocks.
  WriteFile(prefixes, BulkPrefixes(1100) + "0a:e6:a6:12:34/40 Acme lab\n0b:00:00 ip\n0c:00:00:00/28 set\n");
  for (const std::string text : {"acme", "'acme lab'", "ip", "set", "bulk"}) {
    for (const std::string direction : kDirections) {
      CliRun run = Search(text + " --filter nft --direction " + direction);
      ASSERT_EQ(run.status, 0) << text << ": " << run.err;
      EXPECT_TRUE(NftAccepts(xdgDir + "/filter")) << text << " " << direction << "\n" << run.out;
    }
  }
  // The same set and rules in a netdev table, hooked at a device's ingress.
  Sh("sed -i 's/table bridge/table netdev/; s/hook forward/hook ingress device lo/' " + xdgDir + "/filter");
  EXPECT_TRUE(NftAccepts(xdgDir + "/filter")) << ReadFile(xdgDir + "/filter");
}

TEST_F(SearchFilter, NoMatchBadTextAndAFilterTooLong) {
  // 2,100 24-bit blocks: both directions pass 4,096 instructions, one does not.
  WriteFile(prefixes, BulkPrefixes(2100));
  const std::pair<const char*, int> rows[] = {
      {"nobody --filter bpf", 1},          {"acme --filter pcap", 2},
      {"acme --direction src", 2},         {"acme --filter bpf --csv", 2},
      {"acme --filter bpf --direction both", 2}, {"bulk --filter bpf", 1},
      {"bulk --filter bpf --direction src", 0},  {"bulk --filter wireshark", 0},
  };
  for (const auto& [args, status] : rows) {
    CliRun run = Search(args);
    EXPECT_EQ(run.status, status) << args << ": " << run.err;
    EXPECT_EQ(run.out.empty(), status != 0) << args;
  }
  EXPECT_NE(Search("nobody --filter nft").err.find("no holder's name contains \"nobody\""), std::string::npos);
  EXPECT_NE(Search("bulk --filter bpf").err.find("2100 blocks compiles to "), std::string::npos);
}

// The size said before libpcap sees the expression: exact for blocks of
// 32 bits or fewer, never less with longer ones.
TEST(BpfInstructionCount, AgreesWithLibpcap) {
  if (!Installed("tcpdump")) GTEST_SKIP() << "tcpdump is not installed";
  std::vector<AddressBlock> many, few, mixed;
  uint64_t seed = 12345;
  for (int i = 0; i < 1000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    many.push_back({(seed >> 40) << 24, 24});
  }
  few.assign(many.begin(), many.begin() + 150);  // one flat list
  mixed.assign(many.begin(), many.begin() + 300);
  for (uint64_t i = 0; i < 40; ++i) mixed.push_back({(0x70B3D5Aull << 20) + (i << 16), 32});
  for (uint64_t i = 0; i < 30; ++i) mixed.push_back({(0x70B3D5F20ull + i * 3) << 12, 36});
  mixed.push_back({0x0AE6A6990001ull, 48});
  const std::string path = testing::TempDir() + "/count.bpf";
  for (const auto* blocks : {&few, &many, &mixed}) {
    for (FilterDirection d : {FilterDirection::Src, FilterDirection::Either}) {
      const answer::FilterText built = answer::BuildFilter(*blocks, answer::FilterFormat::Bpf, d, "x");
      ASSERT_EQ(built.error, "");
      WriteFile(path, built.text);
      const size_t real = std::stoul(Sh("tcpdump -d -F " + path + " 2>/dev/null | wc -l"));
      if (blocks != &mixed) {
        EXPECT_EQ(built.instructions, real);
      } else {  // libpcap shares the tests of heads whose blocks end alike
        EXPECT_GE(built.instructions, real);
        EXPECT_LE(built.instructions, real + real / 10);
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
  for (const auto& r : RefreshFolder(kIeeeData)) ASSERT_NE(r.status, update::RefreshResult::Status::Kept);
  registry::RegistryTables tables;
  tables.Load(stderr);
  std::map<std::string, size_t> blocks;
  answer::ForEachAssignment(tables, [&](const registry::Match& m) { ++blocks[std::string(m.organization)]; });
  const auto largest = std::max_element(blocks.begin(), blocks.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; });
  ASSERT_NE(largest, blocks.end());
  WriteFile(prefixes, "");
  WriteFile(xdgDir + "/name", largest->first);
  for (const std::string direction : kDirections) {
    CliRun run = Search("\"$(cat " + xdgDir + "/name)\" --filter bpf --direction " + direction);
    if (run.status == 0) {
      EXPECT_LE(std::stoul(Sh("tcpdump -d -F " + xdgDir + "/filter 2>/dev/null | wc -l")), answer::kMaxBpfInstructions)
          << largest->first << " " << direction;
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.err.find(" instructions, more than the 4096"), std::string::npos) << run.err;
    }
  }
  if (!NftChecks(xdgDir)) GTEST_SKIP() << "nft -c cannot check a ruleset here (no nftables or nf_tables)";
  ASSERT_EQ(Search("\"$(cat " + xdgDir + "/name)\" --filter nft").status, 0);
  EXPECT_TRUE(NftAccepts(xdgDir + "/filter"));
}

}  // namespace
