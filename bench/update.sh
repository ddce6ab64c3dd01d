#!/usr/bin/env bash
# Whole-process online update from a loopback mirror of the registry's site
# (bench/mirror_server) serving Debian's listings over HTTPS with a
# certificate made for the run, every answer delayed 1 s: a first update
# downloads the five listings at once, a second one is answered 304
# throughout and rewrites nothing. Prints both wall times.
#   bench/update.sh [BINDIR]     (default: build/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
bindir=${1:-build/bin}
cli=$(realpath "$bindir/vessarine-cli")
[ -f /usr/share/ieee-data/oui.txt ] || { echo "/usr/share/ieee-data is needed (package ieee-data)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
coproc MIRROR { exec "$bindir/mirror_server" --dir /usr/share/ieee-data --delay-ms 1000 --max-seconds 120 \
  --tls "$work/cert.pem" "$work/key.pem"; }
trap 'kill "$MIRROR_PID" 2>/dev/null; rm -rf "$work"' EXIT
read -r port <&"${MIRROR[0]}"
export XDG_CACHE_HOME="$work" CURL_CA_BUNDLE="$work/cert.pem"
for run in first second; do
  start=$(date +%s%N)
  "$cli" update --quiet --site "https://127.0.0.1:$port" >/dev/null 2>&1 || true  # Debian has no CID listing
  end=$(date +%s%N)
  stamp=$(stat -c %i "$work/vessarine/~cmpymac~")
  echo "$run update: $(( (end - start) / 1000000 )) ms (database file inode $stamp)"
done
