# Cross-compiles for 32-bit Windows with Debian's mingw-w64.
set(AVS_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# CTest runs the tests under 32-bit Wine, on hosts that run 32-bit code at all.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh --win32)
# Floating point in SSE2 registers, as on x86-64: under the x87 unit's wider intermediates
# the encoder's rate-distortion comparisons (and the MP3 encoder's arithmetic) come out
# differently from the Linux build's near ties, and the programs' output would differ.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
