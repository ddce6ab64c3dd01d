// Speed of the registry tables and the address scanner. Targets: lookup of
// a mix across every registry >= 10 million addresses per second per core;
// loading every table <= 1 ms beyond the store's load; the scanner well
// above 500 MB/s so annotate's whole process stays within a tenth of grep.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vessarine/db/loader.h"
#include "vessarine/registry/refresh.h"
#include "vessarine/registry/scanner.h"
#include "vessarine/registry/tables.h"

namespace {

constexpr const char* kIeeeData = "/usr/share/ieee-data";

// Tables from Debian's listings in a private cache directory, made once.
const registry::RegistryTables& Tables() {
  static registry::RegistryTables* tables = [] {
    static char dir[] = "/tmp/vessarine-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) std::abort();
    ::setenv("XDG_CACHE_HOME", dir, 1);
    for (registry::Registry r : registry::kAllRegistries) {
      const std::string path = std::string(kIeeeData) + "/" + std::string(registry::Info(r).fileBase) + ".txt";
      const registry::PreparedTable table = registry::PrepareTable(r, path, path, true);
      if (!table.refused()) registry::SaveTable(table);
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
  std::vector<registry::Registry> present;
  for (registry::Registry r : registry::kAllRegistries) {
    if (tables.table(r).size() != 0) present.push_back(r);
  }
  for (size_t i = 0; i < n; ++i) {
    if (i % 10 == 9) {
      out.push_back(random() & 0xFFFFFFFFFFFF);
      continue;
    }
    const registry::TableView& t = tables.table(present[i % present.size()]);
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
    benchmark::DoNotOptimize(tables.table(registry::Registry::MaL).size());
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
    benchmark::DoNotOptimize(tables.table(registry::Registry::MaL).size());
  }
  if (previous.empty()) {
    ::unsetenv("XDG_CACHE_HOME");
  } else {
    ::setenv("XDG_CACHE_HOME", previous.c_str(), 1);
  }
}
BENCHMARK(BM_LoadBuiltInTable)->Unit(benchmark::kMicrosecond);

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
  size_t found = 0;
  for (auto _ : state) {
    registry::ScanAddresses(log.data(), 0, log.size(), log.size(), -1,
                            [&](size_t, size_t, uint64_t) { ++found; });
  }
  benchmark::DoNotOptimize(found);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
