#!/usr/bin/env bash
# vessarine-cli against another build of it (today's main, say), each
# figure from one hyperfine run holding both: lookup - and lookup --json -
# over 1,000,000 addresses (addresses.sh), annotate and annotate --json over
# the same lines, and the start-up of a one-address lookup.
# Usage: bench/paired.sh BUILD_DIR OTHER_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
cli="$1/bin/vessarine-cli"
other="$2/bin/vessarine-cli"
. bench/tables.sh
. bench/addresses.sh

input="$work/addresses.txt"
make_addresses 1000000 > "$input"
for args in "lookup -" "lookup --json -" "annotate" "annotate --json"; do
  hyperfine --output=pipe --warmup 1 --runs "${RUNS:-5}" "$cli $args < $input" "$other $args < $input"
done
hyperfine -N --output=pipe --warmup 20 --runs "${STARTS:-300}" "$cli lookup 00:0c:29" "$other lookup 00:0c:29"
