#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, seeds them from slices of the
# registry listings and of the cache sets those convert into, and runs each
# for SECONDS (default 60). Findings are written to build-fuzz/findings/.
# Skips (exit 0) where clang is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: fuzzing skipped"
  exit 0
fi
listing=$(pwd)/data/ieee-oui-2011-07.txt
[ -f "$listing" ] || listing=$(pwd)/../shared/data/ieee-oui-2011-07.txt
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESSARINE_FUZZ=ON \
  -DVESSARINE_BUILD_APP=OFF -DVESSARINE_BUILD_TESTS=OFF -DVESSARINE_BUILD_BENCH=OFF -DVESSARINE_BUILD_PYTHON=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target convert_fuzz loader_fuzz query_fuzz address_fuzz prefixes_fuzz engine_fuzz make_fuzz_seeds

seeds=build-fuzz/seeds
rm -rf "$seeds"
listings=("$listing")
[ -f /usr/share/ieee-data/oui.txt ] && listings+=(/usr/share/ieee-data/oui.txt)
build-fuzz/bin/make_fuzz_seeds "$seeds" "${listings[@]}"

mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in convert loader query address prefixes engine; do
  echo "== $target: ${seconds} s"
  mkdir -p "build-fuzz/corpus/$target"
  "build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/findings/${target}-" \
    "build-fuzz/corpus/$target" "$seeds/$target" 2>&1 | grep -E '^(stat::number_of_executed_units|==[0-9]+==|SUMMARY)|Done' || true
  # A finding leaves a crash-/leak-/timeout- file and fails the run.
  if ls build-fuzz/findings/"${target}"-* >/dev/null 2>&1; then
    echo "fuzz finding in $target: build-fuzz/findings/" >&2
    exit 1
  fi
done
