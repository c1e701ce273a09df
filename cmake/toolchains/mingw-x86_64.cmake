# Cross-compiles for 64-bit Windows with Debian's mingw-w64.
set(AVS_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# CTest runs the tests under wine64 (this host's kernel runs 64-bit Windows code).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
