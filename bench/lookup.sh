#!/usr/bin/env bash
# Whole-process speed of `vessarine-cli lookup -` on 1,000,000 addresses,
# one per line, in text, CSV and JSON, in one hyperfine run, the addresses
# addresses.sh makes. Targets: >= 1.5 million addresses a second in text,
# >= 3 million in CSV. With BASELINE=path/to/vessarine-cli, that build's
# runs join the same hyperfine run.
# Usage: bench/lookup.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cli="$build/bin/vessarine-cli"
. bench/tables.sh
. bench/addresses.sh

input="$work/addresses.txt"
make_addresses 1000000 > "$input"
echo "input: $(wc -l < "$input") addresses, $(wc -c < "$input") bytes"

hyperfine --output=pipe --warmup 1 --runs "${RUNS:-5}" \
  "$cli lookup - < $input" \
  "$cli lookup --csv - < $input" \
  "$cli lookup --json - < $input" \
  ${BASELINE:+"$BASELINE lookup - < $input" "$BASELINE lookup --csv - < $input" "$BASELINE lookup --json - < $input"}
