// Speed of loading, the queries and the conversion. Figures go in the notes
// of the work they measure; targets: lookup <= 100 us, listing <= 5 ms,
// company search "a" (all) <= 30 ms, 2022 listing converted <= 100 ms,
// 2011 listing <= 40 ms, ten times the input <= 11 times the time.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "vessarine/db/cache_files.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/query/queries.h"
#include "vessarine/listing/convert.h"
#include "vessarine/listing/listing.h"
#include "vessarine/listing/table.h"
#include "vessarine/update/table_refresh.h"

namespace {

std::string ReadListing(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text;
}

void BM_LoadBuiltin(benchmark::State& state) {
  for (auto _ : state) LoadBuiltinDatabase();
}
BENCHMARK(BM_LoadBuiltin)->Unit(benchmark::kMicrosecond);

// Loading a cache set made from today's listing: mapping and checking it.
void BM_LoadCache(benchmark::State& state) {
  std::string listing = ReadListing("/usr/share/ieee-data/oui.txt");
  if (listing.empty()) {
    state.SkipWithError("listing not available");
    return;
  }
  char dir[] = "/tmp/vessarine-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  setenv("XDG_CACHE_HOME", dir, 1);
  const StorePtr store = listing::ConvertListing(listing);
  CommitCacheSet(*store, "bench");
  for (auto _ : state) LoadDatabase();
  state.counters["cache"] = g_bCachePresent;
  std::filesystem::remove_all(dir);
  unsetenv("XDG_CACHE_HOME");
  LoadBuiltinDatabase();
}
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMicrosecond);

void BM_MacLookup(benchmark::State& state) {
  LoadBuiltinDatabase();
  for (auto _ : state) benchmark::DoNotOptimize(LookupMac("00:0c:29"));
}
BENCHMARK(BM_MacLookup)->Unit(benchmark::kMicrosecond);

void BM_FullListing(benchmark::State& state) {
  LoadBuiltinDatabase();
  for (auto _ : state) benchmark::DoNotOptimize(ListMacs());
}
BENCHMARK(BM_FullListing)->Unit(benchmark::kMillisecond);

void BM_CompanyAllOfA(benchmark::State& state) {
  LoadBuiltinDatabase();
  const std::string text = "a";
  for (auto _ : state) benchmark::DoNotOptimize(SearchCompanies(text, {}, true));
}
BENCHMARK(BM_CompanyAllOfA)->Unit(benchmark::kMillisecond);

void ConvertBench(benchmark::State& state, const std::string& listing, int copies) {
  if (listing.empty()) {
    state.SkipWithError("listing not available");
    return;
  }
  std::string input;
  for (int i = 0; i < copies; ++i) input += listing;
  for (auto _ : state) {
    state.PauseTiming();
    std::string text = input;
    state.ResumeTiming();
    StorePtr store = listing::ConvertListing(text);
    benchmark::DoNotOptimize(store->count);
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void BM_Convert2011(benchmark::State& state) {
  static const std::string listing = ReadListing(VESSARINE_DATA_DIR "/ieee-oui-2011-07.txt");
  ConvertBench(state, listing, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Convert2011)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_Convert2022(benchmark::State& state) {
  static const std::string listing = ReadListing("/usr/share/ieee-data/oui.txt");
  ConvertBench(state, listing, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Convert2022)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// What an update makes of today's MA-L listing, as it makes it: the file
// read and parsed once, then the store and the MA-L table image from that
// reading at once, judged against the table in place.
void BM_ListingToStoreAndTable(benchmark::State& state) {
  const std::string path = "/usr/share/ieee-data/oui.txt";
  if (ReadListing(path).empty()) {
    state.SkipWithError("listing not available");
    return;
  }
  for (auto _ : state) {
    StorePtr store;
    const update::PreparedTable table = update::PrepareTable(
        listing::Registry::MaL, path, path, true, false,
        [&store](const listing::ParsedListing& parsed) { store = listing::StoreFromListing(parsed); });
    benchmark::DoNotOptimize(store->count);
    benchmark::DoNotOptimize(table.image.data());
  }
}
BENCHMARK(BM_ListingToStoreAndTable)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Large blocks always come fresh from the system, as they do for the one
  // conversion of an update; otherwise a small input's tables would be
  // recycled, already mapped, from one iteration to the next while a large
  // one's would not, and the two would not compare.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
