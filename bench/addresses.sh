# Sourced by the benchmarks: make_addresses N prints N addresses, one a
# line, mixing every notation lookup takes (a tenth are IPv6 addresses
# carrying a MAC) over prefixes of every registry, the same every run.
make_addresses() {
  awk -v seed=11 -v count="$1" 'BEGIN {
  srand(seed)
  hex = "0123456789abcdef"
  n = split("000c29 3c5ab4 f4bd9e 70b3d5 0050c2 98063e b827eb 001b21 ac1f6b 525400 00005e 208593 0ae6a6", oui, " ")
  for (i = 0; i < count; ++i) {
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
}'
}
