#!/bin/sh
# Checks the files the package installs beside the programs:
#   packaging_check.sh CLI DESKTOP METAINFO CLI_MAN APP_MAN COMPLETION [BUILD_DIR]
# - the desktop entry, the AppStream metainfo and the manual pages pass
#   desktop-file-validate, appstreamcli validate --no-net and man --warnings
#   (each check is left out, with a note, when its tool is not installed);
# - the completion is valid bash;
# - every command and option that `CLI --help` and `CLI COMMAND --help` list is
#   in the manual page and in the completion;
# - with BUILD_DIR, installed below a temporary /usr as the package installs
#   it, Debian's python3 imports the module from dist-packages and looks up
#   an address (left out, with a note, where the module was not built).
set -u
if [ $# -ne 6 ] && [ $# -ne 7 ]; then
  echo "usage: $0 CLI DESKTOP METAINFO CLI_MAN APP_MAN COMPLETION [BUILD_DIR]" >&2
  exit 2
fi
cli=$1 desktop=$2 metainfo=$3 cli_man=$4 app_man=$5 completion=$6
failed=0

fail() {
  echo "FAIL: $*" >&2
  failed=1
}

have() {
  if command -v "$1" >/dev/null 2>&1; then return 0; fi
  echo "note: $1 not installed, its check is left out" >&2
  return 1
}

if have desktop-file-validate; then
  out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate $desktop"
  [ -z "$out" ] || fail "desktop-file-validate $desktop: $out"
fi

if have appstreamcli; then
  appstreamcli validate --no-net --strict "$metainfo" >&2 || fail "appstreamcli validate $metainfo"
fi

if have man; then
  for page in "$cli_man" "$app_man"; do
    # Every groff warning (plain --warnings=all leaves out undefined macros).
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man --warnings $page: $out"
  done
fi

bash -n "$completion" || fail "bash -n $completion"

# Manual page source with its escaped hyphens made plain.
man_text=$(sed 's/\\-/-/g' "$cli_man")

# The names listed under a heading of CLI11's help ("Subcommands:", "Options:").
listed() {
  awk -v heading="$1" '
    $0 == heading { inside = 1; next }
    /^[^ ]/ { inside = 0 }
    inside && /^  [^ ]/ { print $1 }'
}

help=$("$cli" --help) || fail "$cli --help exits non-zero"
commands=$(printf '%s\n' "$help" | listed "Subcommands:")
[ -n "$commands" ] || fail "$cli --help lists no commands"
for command in $commands; do
  printf '%s\n' "$man_text" | grep -q "^\.B vessarine-cli $command\$" ||
    fail "command '$command' missing from the SYNOPSIS of $cli_man"
  grep -q "commands=\".*\\b$command\\b" "$completion" ||
    fail "command '$command' missing from $completion"
  command_help=$("$cli" "$command" --help) || fail "$cli $command --help exits non-zero"
  for option in $(printf '%s\n' "$command_help" | listed "Options:" | tr ',' '\n' | grep '^--'); do
    printf '%s\n' "$man_text" | grep -q -- "$option" ||
      fail "option '$command $option' missing from $cli_man"
    grep -q -- "$option" "$completion" || fail "option '$command $option' missing from $completion"
  done
done
for option in $(printf '%s\n' "$help" | listed "Options:" | tr ',' '\n' | grep '^--'); do
  printf '%s\n' "$man_text" | grep -q -- "$option" || fail "option '$option' missing from $cli_man"
  grep -q -- "$option" "$completion" || fail "option '$option' missing from $completion"
done

build=${7:-}
if [ -n "$build" ]; then
  if ! ls "$build"/python/vessarine*.so >/dev/null 2>&1 || [ ! -x /usr/bin/python3 ]; then
    echo "note: the Python module or /usr/bin/python3 is missing, its install check is left out" >&2
  else
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    if cmake --install "$build" --prefix "$root/usr" >/dev/null; then
      site="$root/usr/lib/python3/dist-packages"
      [ -f "$site/vessarine.pyi" ] || fail "vessarine.pyi not installed in $site"
      XDG_CACHE_HOME="$root/cache" XDG_CONFIG_HOME="$root/config" PYTHONPATH="$site" /usr/bin/python3 -c \
        'import vessarine, sys; sys.exit(vessarine.lookup("00:0c:29")["mac"] != "00:0C:29")' ||
        fail "python3 -c 'import vessarine' after install"
    else
      fail "cmake --install $build"
    fi
  fi
fi

exit $failed
