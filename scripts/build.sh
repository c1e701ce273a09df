#!/usr/bin/env bash
# build.sh [release|san|tsan] — configures and builds one build tree.
#   release  build/       g++, programs in build/bin, all tests
#   san      build-san/   clang with AddressSanitizer, UBSan and the fuzz targets
#   tsan     build-tsan/  clang with ThreadSanitizer, only the threaded tests
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
jobs=$(nproc)
case "$kind" in
  release)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$jobs" ;;
  san)
    cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DAVS_SANITIZE=address,undefined -DAVS_FUZZ=ON \
      -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 >/dev/null
    cmake --build build-san -j "$jobs" ;;
  tsan)
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DAVS_SANITIZE=thread -DAVS_BUILD_GUI=OFF \
      -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 >/dev/null
    cmake --build build-tsan -j "$jobs" --target tsan_tests ;;
  *) echo "usage: build.sh [release|san|tsan]" >&2; exit 2 ;;
esac
