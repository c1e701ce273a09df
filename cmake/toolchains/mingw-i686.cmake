# Cross-compiles for 32-bit Windows with Debian's mingw-w64.
set(AVS_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# CTest runs the tests under 32-bit Wine, on hosts that run 32-bit code at all.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh --win32)
