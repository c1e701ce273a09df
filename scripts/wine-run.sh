#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...] — runs a Windows program of the x86-64 build under
# wine64 in the build's own prefix (build-win64/wineprefix unless WINEPREFIX is set),
# making the prefix on first use. CTest uses it as the emulator of the Windows build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # One prefix maker at a time; the others wait for it.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine64" wineboot --init >/dev/null 2>&1
    "$(dirname "$wine64")/wineserver" -w
  fi
  exec 9>&-
fi
# A persistent server keeps each program's start-up short.
"$(dirname "$wine64")/wineserver" -p >/dev/null 2>&1 || true
exec "$wine64" "$@"
