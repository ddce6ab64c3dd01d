#!/usr/bin/env bash
# Whole-process start-up of `mac` and of a one-shot `lookup`, paired with
# grep over Debian's listing: once with the built-in copy, once with a cache
# made from today's listings. For each: the medians of one hyperfine run
# (--output=pipe: grep --max-count=1 writing to /dev/null would stop early),
# and the page faults (GNU time's %R, the median of a few runs) and peak
# memory of each command.
#   bench/startup.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build}/bin/vessarine-cli")
listing=/usr/share/ieee-data/oui.txt
for tool in hyperfine /usr/bin/python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
[ -f "$listing" ] || { echo "$listing is needed (package ieee-data)" >&2; exit 2; }
. bench/tables.sh
mkdir -p "$work/builtin"

commands=(
  "$cli mac 00:0c:29"
  "$cli lookup 00:0c:29:00:00:01"
  "$cli lookup 00:0c:29:00:00:01 70:b3:d5:f2:f0:01 00:1b:c5:00:00:01 3c:5a:b4:00:00:01"
  "grep --max-count=1 -A4 ^00-0C-29 $listing"
)
names=("mac" "lookup 1" "lookup 4" "grep")

faults() { # median minor page faults and peak resident kB of five runs
  for _ in 1 2 3 4 5; do /usr/bin/time -f '%R %M' "$@" 2>&1 >/dev/null | tail -n 1; done |
    sort -n | sed -n 3p
}

for kind in builtin cache; do
  [ "$kind" = builtin ] && export XDG_CACHE_HOME="$work/builtin" || export XDG_CACHE_HOME="$work/cache"
  hyperfine -N --warmup 20 --runs "${RUNS:-300}" --output=pipe --export-json "$work/$kind.json" \
    "${commands[@]}" >/dev/null 2>&1
  counts=()
  for c in "${commands[@]}"; do
    # shellcheck disable=SC2086  # each command is its words
    counts+=("$(faults $c)")
  done
  /usr/bin/python3 - "$work/$kind.json" "$kind" "${names[@]}" -- "${counts[@]}" <<'PY'
import json, sys
args = sys.argv[3:]
split = args.index("--")
names, counts = args[:split], args[split + 1:]
runs = json.load(open(sys.argv[1]))["results"]
for name, run, count in zip(names, runs, counts):
    faults, peak = count.split()
    print(f"{sys.argv[2]:8} {name:9} {run['median'] * 1000:7.3f} ms  {int(faults):5} page faults  peak {int(peak) / 1024:.1f} MB")
PY
done
