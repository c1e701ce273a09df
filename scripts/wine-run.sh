#!/usr/bin/env bash
# wine-run.sh [--win32] PROGRAM.exe [ARGS...] — runs a Windows program of the Windows build
# under Wine in the build's own prefix (build-win64/wineprefix, or build-win32/wineprefix
# with --win32 or AVS_WINE_WIN32=1; WINEPREFIX overrides), making the prefix on first use. CTest uses it as the
# emulator of the Windows builds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
loader=wine64
build=build-win64
if [ "${1:-}" = --win32 ] || [ "${AVS_WINE_WIN32:-}" = 1 ]; then
  [ "${1:-}" = --win32 ] && shift
  loader=wine
  build=build-win32
  export WINEARCH=win32
fi
export WINEPREFIX=${WINEPREFIX:-$root/$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or HTML engine: the prefix needs neither, and Wine would offer to download them.
# No sound driver: these hosts have no sound card, and the driver would report that on the
# program's stderr whenever a graph is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winealsa.drv=}
wine=$(command -v "$loader" || echo "/usr/lib/wine/$loader")
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=/usr/lib/wine/wineserver
# The prefix counts as made only once wineboot has finished (its registry files appear
# long before); until then every caller waits for the one that makes it.
ready=$WINEPREFIX/.prefix-ready
if [ ! -f "$ready" ]; then
  mkdir -p "$WINEPREFIX"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
    touch "$ready"
  fi
  exec 9>&-
fi
# A persistent server keeps each program's start-up short. When the server is new, Wine's
# services are started here with their output going nowhere: started by the program they
# would inherit its output and keep the caller (CTest) waiting for it to close.
exec 9>"$WINEPREFIX.lock"
flock 9
if "$server" -p >/dev/null 2>&1 9>&-; then
  "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
fi
exec 9>&-
exec "$wine" "$@"
