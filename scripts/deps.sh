#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests, the window and the
# package need, when any is missing. Safe to run again.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libcurl4 libcurl4-openssl-dev
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  fonts-wqy-zenhei fonts-liberation
  xvfb xauth
  ieee-data
  # the export test joins in SQLite
  sqlite3
  # the Python module, its tests (pytest, a Dask cluster) and its benchmark
  # (netaddr as the competitor; pandas for the README's Spark and Dask use)
  pybind11-dev python3-dev python3-pytest python3-dask python3-distributed python3-pandas python3-netaddr
  # the Debian package and the checks of its files
  dpkg-dev file man-db desktop-file-utils appstream
  # the tools that read search --filter's output, run by its tests
  tcpdump tshark nftables
  # the fuzz targets (clang's libFuzzer) and the whole-process benchmarks
  clang libclang-rt-14-dev hyperfine time
  # the test certificates of the HTTPS loopback servers
  openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
