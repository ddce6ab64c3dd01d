#!/usr/bin/env bash
# Whole-process start-up of a lookup, paired with grep over Debian's listing
# in one hyperfine run each (--output=pipe: grep --max-count=1 writing to /dev/null
# would stop early): once with the built-in copy, once with a cache made
# from today's listing. Prints the medians, their ratio and the peak memory.
#   bench/startup.sh [BINDIR]     (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bindir=${1:-build/bin}
cli=$(realpath "$bindir/vessarine-cli")
listing=/usr/share/ieee-data/oui.txt
for tool in hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
[ -f "$listing" ] || { echo "$listing is needed (package ieee-data)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/builtin" "$work/cache"
XDG_CACHE_HOME="$work/cache" "$cli" update --from "$listing" >/dev/null 2>&1
grep_cmd="grep --max-count=1 -A4 ^00-0C-29 $listing"

peak_kb() { # peak resident memory of one run, in kB (GNU time)
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

for kind in builtin cache; do
  export XDG_CACHE_HOME="$work/$kind"
  hyperfine -N --warmup 50 --runs 1000 --output=pipe --export-json "$work/$kind.json" \
    "$cli mac 00:0c:29" "$grep_cmd" >/dev/null 2>&1
  python3 - "$work/$kind.json" "$kind" "$(peak_kb "$cli" mac 00:0c:29)" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
lookup, grep = (r["median"] * 1000 for r in runs)
print(f"{sys.argv[2]:8} lookup {lookup:.3f} ms  grep {grep:.3f} ms  ratio {lookup / grep:.2f}  peak {int(sys.argv[3]) / 1024:.1f} MB")
PY
done
