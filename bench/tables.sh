# Sourced by the whole-process benchmarks, with $cli set: a private working
# folder ($work, removed on exit) whose cache holds every registry table
# made from Debian's listings, and a configuration folder with no prefixes
# file unless the benchmark writes one.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
"$cli" update --from /usr/share/ieee-data >/dev/null 2>&1
