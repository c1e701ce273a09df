# Child output scanned for percentages, and command-line splitting.
if(AVS_BUILD_GUI)
  avs_add_fuzzer(ostrander_progress_fuzzer
    SOURCES ${CMAKE_SOURCE_DIR}/tests/frontend/progress_fuzzer.cpp
    LIBS ostrander_core)
endif()
