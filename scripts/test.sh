#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test (build-test/);
# then again under AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), the race tests under ThreadSanitizer (build-tsan/), and each
# fuzz target for a short while (build-fuzz/).
# Each build keeps its own folder, apart from scripts/run.sh's build-release/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs="$(nproc)"

echo "== Build with warnings as errors =="
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESSARINE_WERROR=ON >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESSARINE_WERROR=ON \
  -DVESSARINE_SANITIZE=address,undefined -DVESSARINE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== Fuzz targets, briefly =="
scripts/fuzz.sh 20

echo "== ThreadSanitizer: queries racing updates, online ones of both front ends from a loopback mirror =="
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVESSARINE_WERROR=ON \
  -DVESSARINE_SANITIZE=thread -DVESSARINE_BUILD_APP=OFF -DVESSARINE_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target race_test
TSAN_OPTIONS=halt_on_error=1:suppressions="$PWD/tests/tsan.supp" ctest --test-dir build-tsan --output-on-failure -L race
