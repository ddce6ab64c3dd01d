#!/usr/bin/env bash
# The Python module against netaddr, with Debian's python3:
# - lookup_many over 1,000,000 addresses (addresses.sh) in one process,
#   against netaddr's EUI(a).oui.registration().org loop over the first
#   20,000 of them, scaled; targets >= 1 million addresses a second and
#   >= 30 times netaddr's rate; and, for scale, copying the first answer's
#   dict as many times (the least any list of such dicts costs: memory
#   allocation, which dominates on a busy or virtualized machine);
# - import and the first lookup, in a fresh process each time, in one
#   hyperfine run with netaddr's (and python3 alone, the floor under both);
#   target <= 20 ms for the module's.
# Usage: bench/python.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cli="$build/bin/vessarine-cli"
python=/usr/bin/python3
export PYTHONPATH="$(cd "$build/python" && pwd)"
. bench/tables.sh
. bench/addresses.sh

input="$work/addresses.txt"
make_addresses 1000000 > "$input"

"$python" - "$input" <<'PY'
import sys
import time

import netaddr
import vessarine

addresses = open(sys.argv[1]).read().split("\n")[:-1]
vessarine.lookup(addresses[0])

best = min(_timed for _timed in (
    (lambda t: (vessarine.lookup_many(addresses), time.perf_counter() - t)[1])(time.perf_counter())
    for _ in range(3)))
rate = len(addresses) / best


def netaddr_org(a):
    try:
        return netaddr.EUI(a).oui.registration().org
    except (netaddr.AddrFormatError, netaddr.NotRegisteredError, IndexError):
        return None


first = vessarine.lookup_many(addresses[:1])[0]
t = time.perf_counter()
copies = [first.copy() for _ in addresses]
floor = len(addresses) / (time.perf_counter() - t)
del copies

sample = addresses[:20000]
t = time.perf_counter()
for a in sample:
    netaddr_org(a)
netaddr_rate = len(sample) / (time.perf_counter() - t)
print(f"lookup_many: {len(addresses):,} addresses in {best:.3f} s: {rate / 1e6:.2f} M addresses/s")
print(f"dict copies alone: {floor / 1e6:.2f} M/s")
print(f"netaddr: {netaddr_rate:,.0f} addresses/s ({1e6 / netaddr_rate:.1f} us each); "
      f"lookup_many is {rate / netaddr_rate:.0f} times faster")
PY

hyperfine --output=pipe --warmup 3 --runs "${RUNS:-30}" -N \
  "$python -c pass" \
  "$python -c 'import vessarine; vessarine.lookup(\"00:0c:29:aa:bb:cc\")[\"organization\"]'" \
  "$python -c 'import netaddr; netaddr.EUI(\"00:0c:29:aa:bb:cc\").oui.registration().org'"
