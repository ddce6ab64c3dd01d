#!/bin/sh
# Starts the real program in a virtual X server and saves a PNG of its window.
# Usage: scripts/screenshot.sh BINDIR [OUT.png]
#   BINDIR holds vessarine and vessarine-shot (the build's bin/ folder).
#   OUT.png defaults to BINDIR/../vessarine-screenshot.png.
# Prints the time from start to the first painted window and the peak memory.
# Exits 77 (skipped) when xvfb-run is not installed.
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 BINDIR [OUT.png]" >&2
  exit 2
fi
bindir=$(cd "$1" && pwd)
out=${2:-$bindir/../vessarine-screenshot.png}
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not found: screenshot skipped" >&2
  exit 77
fi
# A cache of its own, so the picture shows the built-in database.
if [ -z "${XDG_CACHE_HOME:-}" ]; then
  XDG_CACHE_HOME=$(mktemp -d)
  trap 'rm -rf "$XDG_CACHE_HOME"' EXIT
fi
export XDG_CACHE_HOME
mkdir -p "$XDG_CACHE_HOME"
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24 -br" \
  "$bindir/vessarine-shot" "$out" "$bindir/vessarine"
test -s "$out"
