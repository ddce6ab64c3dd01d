#!/usr/bin/env bash
# Whole-process speed of `vessarine-cli annotate` on a 45 MB log where one
# line in four holds an address, against grep finding the same addresses,
# in one hyperfine run; with BASELINE=path/to/vessarine-cli, that build's
# annotate too (a change against main). Usage: bench/annotate.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cli="$build/bin/vessarine-cli"
. bench/tables.sh

log="$work/log.txt"
awk -v seed=7 'BEGIN {
  srand(seed)
  hex = "0123456789abcdef"
  n = split("000c29 3c5ab4 f4bd9e 70b3d5 0050c2 98063 b827eb 001b21 ac1f6b 525400", oui, " ")
  size = 0
  for (i = 0; size < 45000000; ++i) {
    if (i % 4 == 3) {
      p = oui[int(rand() * n) + 1]
      while (length(p) < 6) p = p substr(hex, int(rand() * 16) + 1, 1)
      mac = substr(p, 1, 2) ":" substr(p, 3, 2) ":" substr(p, 5, 2)
      for (k = 0; k < 3; ++k) mac = mac ":" substr(hex, int(rand() * 16) + 1, 1) substr(hex, int(rand() * 16) + 1, 1)
      line = sprintf("Dec  7 22:%02d:%02d gw dhcpd[%d]: DHCPACK on 10.0.%d.%d to %s (host-%d) via eth1", \
                     i % 60, (i / 60) % 60, 1000 + i % 97, i % 250, i % 253, mac, i)
    } else if (i % 4 == 1) {
      line = sprintf("Dec  7 22:%02d:%02d gw kernel: [%d.%06d] e1000e 0000:00:1f.6 eth0: NIC Link is Up 1000 Mbps Full Duplex, Flow Control: Rx/Tx", \
                     i % 60, (i / 60) % 60, i, i * 7 % 1000000)
    } else {
      line = sprintf("Dec  7 22:%02d:%02d gw sshd[%d]: Accepted publickey for admin from 2001:db8::%x port %d ssh2: ED25519 SHA256:deadbeefcafe%d", \
                     i % 60, (i / 60) % 60, 2000 + i % 89, i % 65536, 40000 + i % 20000, i)
    }
    print line
    size += length(line) + 1
  }
}' > "$log"
echo "log: $(wc -c < "$log") bytes, $(grep -c -E '([0-9A-Fa-f]{2}:){5}[0-9A-Fa-f]{2}' "$log") lines with an address"

hyperfine --output=pipe --warmup 2 --runs "${RUNS:-10}" \
  "grep -o -E '([0-9A-Fa-f]{2}[:-]){5}[0-9A-Fa-f]{2}' $log" \
  "$cli annotate $log" ${BASELINE:+"$BASELINE annotate $log"}
