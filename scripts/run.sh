#!/usr/bin/env bash
# Builds the program (installing what it needs) and starts it. Release build
# in build-release/, apart from the test builds of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release \
  -DVESSARINE_BUILD_TESTS=OFF -DVESSARINE_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target vessarine vessarine-cli
exec build-release/bin/vessarine "$@"
