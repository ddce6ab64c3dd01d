#!/usr/bin/env bash
# search --filter over Debian's listings: the instructions libpcap compiles
# the bpf filter of each of the largest holders to (tcpdump -d; the kernel
# takes at most 4,096), for every direction, and the whole-process time of
# `search apple --filter bpf` (target: <= 50 ms) paired in one hyperfine
# run with grep finding the same holder in the MA-L listing.
#   bench/filters.sh [BINDIR] [HOLDERS]   (default: build/bin, 10)
set -euo pipefail
cd "$(dirname "$0")/.."
bindir=${1:-build/bin}
holders=${2:-10}
cli=$(realpath "$bindir/vessarine-cli")
for tool in hyperfine tcpdump /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
. bench/tables.sh

# The holders with the most blocks, by their exact names.
"$cli" export --json | /usr/bin/python3 -c '
import collections, json, sys
count = collections.Counter(json.loads(line)["organization"] for line in sys.stdin)
for name, n in count.most_common(int(sys.argv[1])):
    print(f"{n}\t{name}")
' "$holders" > "$work/largest"

printf '%-6s %-40s %6s %6s %6s\n' blocks holder src dst either
while IFS=$'\t' read -r n name; do
  counts=()
  for direction in src dst either; do
    if filter=$("$cli" search "$name" --filter bpf --direction "$direction" 2>"$work/err"); then
      counts+=("$(tcpdump -d "$filter" 2>/dev/null | wc -l)")
    else
      counts+=("refused")
      sed 's/^/  /' "$work/err" >&2
    fi
  done
  printf '%-6s %-40.40s %6s %6s %6s\n' "$n" "$name" "${counts[@]}"
done < "$work/largest"

hyperfine -N --warmup 10 --runs "${RUNS:-100}" --output=pipe \
  "$cli search apple --filter bpf" \
  "grep -i apple /usr/share/ieee-data/oui.txt"
