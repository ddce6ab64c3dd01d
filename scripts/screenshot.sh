#!/bin/sh
# Starts the real program in a virtual X server of 1366x768 pixels and saves a
# PNG of its window; fails when the window does not lie wholly on the screen.
# Usage: scripts/screenshot.sh BINDIR [OUT.png [SCALE]]
#   BINDIR holds vessarine and vessarine-shot (the build's bin/ folder).
#   OUT.png defaults to BINDIR/../vessarine-screenshot.png.
#   SCALE is the program's QT_SCALE_FACTOR: 1 (96 DPI, default) or 2 (192 DPI).
# Prints the window's size and place, the time from start to the first
# painted window and the peak memory.
# Exits 77 (skipped) when xvfb-run is not installed.
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 BINDIR [OUT.png [SCALE]]" >&2
  exit 2
fi
bindir=$(cd "$1" && pwd)
out=${2:-$bindir/../vessarine-screenshot.png}
scale=${3:-1}
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
# The helper itself runs unscaled, so it sees the screen's real pixels.
unset QT_QPA_PLATFORM QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR
rm -f "$out"
xvfb-run -a -s "-screen 0 1366x768x24 -br" \
  "$bindir/vessarine-shot" --scale "$scale" "$out" "$bindir/vessarine"
test -s "$out"
