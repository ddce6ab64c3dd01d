#!/usr/bin/env bash
# Whole-process speed of `vessarine-cli lookup -` on 1,000,000 addresses,
# one per line, in text, CSV and JSON, in one hyperfine run. The addresses
# mix every notation lookup takes (a tenth are IPv6 addresses carrying a
# MAC) over prefixes of every registry. Targets: >= 1.5 million addresses a
# second in text, >= 3 million in CSV. With BASELINE=path/to/vessarine-cli,
# that build's text and CSV runs join the same hyperfine run.
# Usage: bench/lookup.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cli="$build/bin/vessarine-cli"
. bench/tables.sh

input="$work/addresses.txt"
awk -v seed=11 'BEGIN {
  srand(seed)
  hex = "0123456789abcdef"
  n = split("000c29 3c5ab4 f4bd9e 70b3d5 0050c2 98063e b827eb 001b21 ac1f6b 525400 00005e 208593 0ae6a6", oui, " ")
  for (i = 0; i < 1000000; ++i) {
    p = oui[int(rand() * n) + 1]
    for (k = 0; k < 6; ++k) p = p substr(hex, int(rand() * 16) + 1, 1)
    kind = i % 10
    if (kind <= 3) {
      line = substr(p, 1, 2) ":" substr(p, 3, 2) ":" substr(p, 5, 2) ":" substr(p, 7, 2) ":" substr(p, 9, 2) ":" substr(p, 11, 2)
    } else if (kind == 4) {
      line = toupper(substr(p, 1, 2) "-" substr(p, 3, 2) "-" substr(p, 5, 2) "-" substr(p, 7, 2) "-" substr(p, 9, 2) "-" substr(p, 11, 2))
    } else if (kind == 5) {
      line = substr(p, 1, 4) "." substr(p, 5, 4) "." substr(p, 9, 4)
    } else if (kind == 6) {
      line = substr(p, 1, 4) "-" substr(p, 5, 4) "-" substr(p, 9, 4)
    } else if (kind == 7) {
      line = substr(p, 1, 6) "-" substr(p, 7, 6)
    } else if (kind == 8) {
      line = p
    } else {
      # fe80::<first byte ^ 2><second>:<third>ff:fe<fourth>:<fifth><sixth>
      # the universal/local bit (0x02) of the first byte inverted
      b0 = substr(p, 1, 1) substr("23016745ab89efcd", index(hex, substr(p, 2, 1)), 1)
      line = "fe80::" b0 substr(p, 3, 2) ":" substr(p, 5, 2) "ff:fe" substr(p, 7, 2) ":" substr(p, 9, 4)
    }
    print line
  }
}' > "$input"
echo "input: $(wc -l < "$input") addresses, $(wc -c < "$input") bytes"

hyperfine --output=pipe --warmup 1 --runs "${RUNS:-5}" \
  "$cli lookup - < $input" \
  "$cli lookup --csv - < $input" \
  "$cli lookup --json - < $input" \
  ${BASELINE:+"$BASELINE lookup - < $input" "$BASELINE lookup --csv - < $input"}
