#!/bin/sh
# Runs a Windows program under Wine, in a throw-away prefix that is made on first use.
#   tools/wine-run.sh PROGRAM.exe [ARGS...]   the program's exit status
#   tools/wine-run.sh --prepare              make the prefix now (the first start takes a while)
#   tools/wine-run.sh --stop                 end the prefix's Wine server
#   tools/wine-run.sh --wait                 wait until the prefix's programs have all ended
# WINEPREFIX names the prefix (default: wine-prefix beside this script's build-win). Exits 77,
# the tests' "skipped", when Wine is not installed.
set -eu

find_wine() {
  for candidate in "${KV_WINE:-}" wine64 /usr/lib/wine/wine64 wine; do
    [ -n "$candidate" ] || continue
    if command -v "$candidate" >/dev/null 2>&1; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}

if ! wine=$(find_wine); then
  echo "wine-run: skipped (Wine is not installed: apt-get install wine64)"
  exit 77
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(dirname "$wine")/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo wineserver)

root=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$root/build-win/wine-prefix}"
export WINEPREFIX
# Quiet, no offers to install .NET or a browser engine into the prefix, and no menu entries
# on this machine for the shortcuts that programs make in it.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

prepare() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One maker at a time; the others wait for it.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1 || true
    "$wineserver" --wait 2>/dev/null || true
  fi
  flock -u 9
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-run: could not make the prefix $WINEPREFIX" >&2; exit 1; }
}

case "${1:-}" in
  --prepare) prepare; exit 0 ;;
  # A server that has already gone (it leaves a few seconds after its last program) is no fault.
  --stop) [ ! -d "$WINEPREFIX" ] || "$wineserver" --kill 2>/dev/null || true; exit 0 ;;
  --wait) [ ! -d "$WINEPREFIX" ] || "$wineserver" --wait 2>/dev/null || true; exit 0 ;;
  "") echo "usage: $0 PROGRAM.exe [ARGS...] | --prepare | --stop" >&2; exit 2 ;;
esac
[ -f "$WINEPREFIX/system.reg" ] || prepare
exec "$wine" "$@"
