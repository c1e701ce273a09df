#!/usr/bin/env bash
# build.sh [release|san|tsan|win32|win64] — configures and builds one build tree.
#   release  build/       g++, programs in build/bin, all tests
#   san      build-san/   clang with AddressSanitizer, UBSan and the fuzz targets
#   tsan     build-tsan/  clang with ThreadSanitizer, only the threaded tests
#   win32    build-win32/ mingw-w64 for 32-bit Windows, programs and modules in bin/
#   win64    build-win64/ mingw-w64 for 64-bit Windows; its tests run under wine64
# KIND-configure (san-configure, win64-configure, ...) only writes the tree's build files
# and compile_commands.json, for the naming check.
# JOBS=N sets the build jobs (default: every core); TARGETS="a b" builds only
# those targets of the san build (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
jobs=${JOBS:-$(nproc)}
configure_only=
case "$kind" in *-configure) configure_only=1; kind=${kind%-configure} ;; esac
build() {
  [ -n "$configure_only" ] || cmake --build "$@"
}
case "$kind" in
  release)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    build build -j "$jobs" ;;
  san)
    cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DAVS_SANITIZE=address,undefined -DAVS_FUZZ=ON \
      -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 >/dev/null
    # shellcheck disable=SC2086  # TARGETS is a list of names
    build build-san -j "$jobs" ${TARGETS:+--target $TARGETS} ;;
  tsan)
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DAVS_SANITIZE=thread -DAVS_BUILD_GUI=OFF \
      -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 >/dev/null
    build build-tsan -j "$jobs" --target tsan_tests ;;
  win32|win64)
    arch=$([ "$kind" = win32 ] && echo i686 || echo x86_64)
    cmake -S . -B "build-$kind" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-$arch.cmake" >/dev/null
    build "build-$kind" -j "$jobs" ;;
  *) echo "usage: build.sh [release|san|tsan|win32|win64]" >&2; exit 2 ;;
esac
