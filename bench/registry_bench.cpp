// Speed of the registry tables and the address scanner. Targets: lookup of
// a mix across every registry >= 10 million addresses per second per core;
// loading every table <= 1 ms beyond the store's load; the scanner well
// above 500 MB/s so annotate's whole process stays within a tenth of grep
// (BM_Scan, a log like bench/annotate.sh's; BM_ScanNotations, one line in
// eight an address in each notation); `search a --json`, most of every
// registry matching, formatted <= 30 ms (BM_SearchJson); a prefixes file of
// 100,000 lines read <= 20 ms (BM_UserPrefixes100k; bench/prefixes.sh
// times the whole process).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vessarine/db/loader.h"
#include "vessarine/answer/assignments.h"
#include "vessarine/update/table_refresh.h"
#include "vessarine/identifier/scanner.h"
#include "vessarine/registry/tables.h"
#include "vessarine/registry/user_prefixes.h"

namespace {

constexpr const char* kIeeeData = "/usr/share/ieee-data";

// Tables from Debian's listings in a private cache directory, made once.
const registry::RegistryTables& Tables() {
  static registry::RegistryTables* tables = [] {
    static char dir[] = "/tmp/vessarine-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    ::setenv("XDG_CACHE_HOME", dir, 1);
    for (listing::Registry r : listing::kAllRegistries) {
      const std::string path = std::string(kIeeeData) + "/" + std::string(listing::Info(r).fileBase) + ".txt";
      const update::PreparedTable table = update::PrepareTable(r, path, path, true);
      if (!table.refused()) update::SaveTable(table);
    }
    auto* t = new registry::RegistryTables;
    t->Load(stderr);
    return t;
  }();
  return *tables;
}

// Addresses inside entries of every registry, equally many from each, and
// some that no registry lists.
std::vector<uint64_t> MixedAddresses(const registry::RegistryTables& tables, size_t n) {
  std::mt19937_64 random(42);
  std::vector<uint64_t> out;
  out.reserve(n);
  std::vector<listing::Registry> present;
  for (listing::Registry r : listing::kAllRegistries) {
    if (tables.table(r).size() != 0) present.push_back(r);
  }
  for (size_t i = 0; i < n; ++i) {
    if (i % 10 == 9) {
      out.push_back(random() & 0xFFFFFFFFFFFF);
      continue;
    }
    const listing::TableView& t = tables.table(present[i % present.size()]);
    const uint64_t key = t.KeyAt(random() % t.size());
    const int rest = 48 - t.bits();
    out.push_back((key << rest) | (random() & ((uint64_t{1} << rest) - 1)));
  }
  return out;
}

void BM_LookupMix(benchmark::State& state) {
  const auto& tables = Tables();
  const std::vector<uint64_t> addresses = MixedAddresses(tables, 1 << 16);
  size_t i = 0;
  for (auto _ : state) {
    auto match = tables.Lookup(addresses[i], false);
    benchmark::DoNotOptimize(match);
    i = (i + 1) & (addresses.size() - 1);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupMix);

void BM_LoadAllTables(benchmark::State& state) {
  Tables();
  for (auto _ : state) {
    registry::RegistryTables tables;
    tables.Load(stderr);
    benchmark::DoNotOptimize(tables.table(listing::Registry::MaL).size());
  }
}
BENCHMARK(BM_LoadAllTables)->Unit(benchmark::kMicrosecond);

// A cache directory without table files: the built-in MA-L table alone.
void BM_LoadBuiltInTable(benchmark::State& state) {
  static const std::string empty = [] {
    static char dir[] = "/tmp/vessarine-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    return std::string(dir);
  }();
  const char* was = std::getenv("XDG_CACHE_HOME");
  const std::string previous = was ? was : "";
  ::setenv("XDG_CACHE_HOME", empty.c_str(), 1);
  for (auto _ : state) {
    registry::RegistryTables tables;
    tables.Load(stderr);
    benchmark::DoNotOptimize(tables.table(listing::Registry::MaL).size());
  }
  if (previous.empty()) {
    ::unsetenv("XDG_CACHE_HOME");
  } else {
    ::setenv("XDG_CACHE_HOME", previous.c_str(), 1);
  }
}
BENCHMARK(BM_LoadBuiltInTable)->Unit(benchmark::kMicrosecond);

// What `search a --json` does once the tables are loaded: nearly every
// holder matches, so this is the formatting of almost every row.
void BM_SearchJson(benchmark::State& state) {
  const auto& tables = Tables();
  const answer::HolderFilter filter("a");
  std::string out;
  size_t rows = 0;
  for (auto _ : state) {
    out.clear();
    rows = 0;
    answer::ForEachAssignment(tables, [&](const registry::Match& m) {
      if (!answer::AnyHolderMatches(filter, m)) return;
      answer::AppendAssignmentRow(&out, answer::RowFormat::Json, m);
      ++rows;
    });
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_SearchJson)->Unit(benchmark::kMillisecond);

// A prefixes file of 100,000 distinct entries of 32 to 48 bits, parsed,
// checked and indexed, as every lookup, annotate, search and export does
// at start.
void BM_UserPrefixes100k(benchmark::State& state) {
  std::string text = "# generated\n";
  char line[64];
  for (unsigned i = 0; i < 100000; ++i) {
    const int bits = 32 + 4 * static_cast<int>(i % 5);
    const unsigned long long value = (0xAULL << (bits - 4)) | i;
    std::snprintf(line, sizeof line, "%0*llx/%d Lab device %u\n", bits / 4, value, bits, i);
    text += line;
  }
  std::string error;
  for (auto _ : state) {
    auto parsed = registry::UserPrefixes::Parse(text, "prefixes", &error);
    if (!parsed || parsed->entries().size() != 100000) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_UserPrefixes100k)->Unit(benchmark::kMillisecond);

// Scans `log` whole on every iteration, counting the finds.
void ScanLog(benchmark::State& state, const std::string& log) {
  size_t found = 0;
  for (auto _ : state) {
    identifier::ScanAddresses(log.data(), 0, log.size(), log.size(), -1,
                              [&](size_t, size_t, const identifier::ParsedAddress&) { ++found; });
  }
  benchmark::DoNotOptimize(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}

// A log of 100-byte lines, one in four holding an address.
void BM_Scan(benchmark::State& state) {
  std::string log;
  for (int i = 0; log.size() < (8u << 20); ++i) {
    char line[160];
    if (i % 4 == 3) {
      std::snprintf(line, sizeof line, "Dec  7 22:08:%02d gw dhcpd[%d]: DHCPACK on 10.0.3.%d to 00:0c:29:%02x:%02x:%02x via eth1\n",
                    i % 60, 1000 + i % 97, i % 250, i & 255, (i >> 8) & 255, (i >> 16) & 255);
    } else {
      std::snprintf(line, sizeof line, "Dec  7 22:08:%02d gw sshd[%d]: Accepted publickey for admin from 2001:db8::%x port %d ssh2\n",
                    i % 60, 2000 + i % 89, i % 65536, 40000 + i % 20000);
    }
    log += line;
  }
  ScanLog(state, log);
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

// The same density of finds in every notation the scanner takes: macOS's
// arp, Huawei, HP, Cisco, and IPv6 addresses that carry a MAC, among
// near misses (times, IPv6 addresses without one, UUIDs).
void BM_ScanNotations(benchmark::State& state) {
  std::string log;
  for (int i = 0; log.size() < (8u << 20); ++i) {
    char line[200];
    const unsigned a = i & 255, b = (i >> 8) & 255, c = (i >> 16) & 255;
    switch (i % 8) {
      case 0: std::snprintf(line, sizeof line, "? (10.0.%u.%u) at 0:c:29:%x:%x:%x on en0 ifscope [ethernet]\n", a, b, a, b, c); break;
      case 1: std::snprintf(line, sizeof line, "%04x-%04x-%04x  1  Eth-Trunk1  dynamic  %02u:%02u:%02u\n", a, b << 8 | c, a << 8 | b, a % 24, b % 60, c % 60); break;
      case 2: std::snprintf(line, sizeof line, "  inet6 fe80::20c:29ff:fe%02x:%02x%02x/64 scope link\n", a, b, c); break;
      case 3: std::snprintf(line, sizeof line, "IP6 fe80::%x:%x.546 > ff02::1:2.547: dhcp6 solicit id %08x-%04x-%04x\n", a, b << 8 | c, i, a, b); break;
      case 4: std::snprintf(line, sizeof line, "port 12 learned 001122-%02x%02x%02x vlan %u at 12:34:56.%03u\n", a, b, c, a, b); break;
      case 5: std::snprintf(line, sizeof line, "Gi1/0/%u  000c.29%02x.%02x%02x  DYNAMIC  v1.2.%u\n", a, a, b, c, b); break;
      case 6: std::snprintf(line, sizeof line, "from 2001:db8:%x::%x port %u ssh2: ED25519 SHA256:deadbeef%08x\n", a, b, 40000 + c, i); break;
      default: std::snprintf(line, sizeof line, "lease 00:0c:29:%02x:%02x:%02x ends 2024-01-02 12:%02u:%02u\n", a, b, c, b % 60, c % 60); break;
    }
    log += line;
  }
  ScanLog(state, log);
}
BENCHMARK(BM_ScanNotations)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
