#!/usr/bin/env bash
# windows_tests.sh — the Windows stage of the test suite: builds both Windows targets,
# checks that every deliverable is the right kind of executable, runs the x86-64 tests
# under wine64 in a prefix of the build's own, and the 32-bit tests where this host runs
# 32-bit code. Needs the Linux release build (build/bin) for the comparisons.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$(date +%s)

scripts/build.sh win32
scripts/build.sh win64

# file(1) names 32-bit images "PE32 executable" and 64-bit ones "PE32+ executable".
check_kind() {  # BUILD_DIR EXPECTED
  local bad=0 f kind
  for f in "$1"/bin/*.exe "$1"/bin/*.dll; do
    [ -e "$f" ] || continue
    kind=$(file -b "$f")
    case "$kind" in
      "$2 "*) ;;
      *) echo "windows: $f is '$kind', not $2" >&2; bad=1 ;;
    esac
  done
  return $bad
}
check_kind build-win32 PE32
check_kind build-win64 PE32+
echo "windows: $(ls build-win32/bin | wc -l) PE32 and $(ls build-win64/bin | wc -l) PE32+ deliverables"

ctest --test-dir build-win64 --output-on-failure -j "$jobs"
if ! scripts/host_runs_32bit.sh; then
  echo "windows: 32-bit tests skipped: this host runs no 32-bit code"
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "windows: 32-bit tests skipped: 32-bit Wine (wine32:i386) is not installed; scripts/setup.sh says why"
else
  ctest --test-dir build-win32 --output-on-failure -j "$jobs"
fi
# The prefixes' servers were made persistent for speed; nothing should outlive the stage.
for prefix in build-win64/wineprefix build-win32/wineprefix; do
  [ -d "$prefix" ] && WINEPREFIX=$PWD/$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
done
echo "windows: stage took $(($(date +%s) - start)) s"
