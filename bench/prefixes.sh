#!/usr/bin/env bash
# What a prefixes file of 100,000 lines adds to a whole lookup process
# (target: <= 20 ms), and the whole-process time of `export --csv` over
# every registry (target: <= 150 ms), each paired in one hyperfine run:
# the lookup with and without the file, the export with cat reading the
# CSV listings it is made from.
#   bench/prefixes.sh [BINDIR]     (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bindir=${1:-build/bin}
cli=$(realpath "$bindir/vessarine-cli")
for tool in hyperfine python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
. bench/tables.sh

python3 - "$work/prefixes" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("# generated\n")
    for i in range(100000):
        bits = 32 + 4 * (i % 5)
        f.write(f"{(0xA << (bits - 4)) | i:0{bits // 4}x}/{bits} Lab device {i}\n")
PY
echo "prefixes: $(wc -l < "$work/prefixes") lines, $(wc -c < "$work/prefixes") bytes"

hyperfine -N --warmup 20 --runs "${RUNS:-200}" --output=pipe \
  "$cli lookup 00:0c:29:aa:bb:cc" \
  "$cli lookup --prefixes $work/prefixes 00:0c:29:aa:bb:cc"

hyperfine -N --warmup 3 --runs "${RUNS:-30}" --output=pipe \
  "$cli export --csv" \
  "cat /usr/share/ieee-data/oui.csv /usr/share/ieee-data/mam.csv /usr/share/ieee-data/oui36.csv /usr/share/ieee-data/iab.csv"
echo "export: $("$cli" export --csv | wc -l) lines"
