#!/usr/bin/env bash
# The whole test suite: set-up, the source checks (format, platform boundary),
# the release build (warnings are errors), the naming check over it, every test, the
# sanitizer build with the unit tests and a bounded run of each fuzz target,
# the ThreadSanitizer build with the threaded tests, and the Windows builds with their
# tests under Wine.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
jobs=$(nproc)

echo "== source checks"
scripts/check_format.sh
scripts/check_boundary.sh

echo "== release build and all tests"
scripts/build.sh release
scripts/check_naming.sh
ctest --test-dir build --output-on-failure -j "$jobs" -LE fuzz

echo "== AddressSanitizer/UBSan build: unit tests and fuzz targets"
scripts/build.sh san
ctest --test-dir build-san --output-on-failure -j "$jobs" -L 'unit|fuzz'

echo "== ThreadSanitizer build: threaded tests"
scripts/build.sh tsan
if ctest --test-dir build-tsan -N -L tsan | grep -q 'Total Tests: [1-9]'; then
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L tsan
fi
echo "== Windows builds (mingw-w64) and their tests under Wine"
scripts/windows_tests.sh
echo "== all test stages passed"
