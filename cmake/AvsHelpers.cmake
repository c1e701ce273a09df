# Shared helpers for tests, fuzz targets and sub-folder discovery.

# Adds every immediate sub-folder of the current source folder that has a CMakeLists.txt;
# the Windows build adds only the ones listed after WINDOWS.
function(avs_add_child_dirs)
  cmake_parse_arguments(D "" "" "WINDOWS" ${ARGN})
  if(WIN32)
    set(children ${D_WINDOWS})
  else()
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  endif()
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

if(NOT TARGET tsan_tests)
  add_custom_target(tsan_tests)
endif()

# avs_add_test(NAME SOURCES ... LIBS ... [LABELS ...] [TSAN] [TIMEOUT s])
# A GoogleTest executable registered with CTest. Label "unit" is implied unless
# LABELS says otherwise; TSAN also hangs it on the tsan_tests target so the
# ThreadSanitizer build can build just those.
function(avs_add_test name)
  cmake_parse_arguments(T "TSAN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    AVS_TEST_DATA_DIR="${AVS_TEST_PATH_PREFIX}${CMAKE_SOURCE_DIR}/tests/data"
    AVS_BIN_DIR="${AVS_TEST_PATH_PREFIX}${CMAKE_BINARY_DIR}/bin"
    AVS_SOURCE_DIR="${AVS_TEST_PATH_PREFIX}${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  if(T_TSAN)
    list(APPEND labels tsan)
    add_dependencies(tsan_tests ${name})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT})
endfunction()

set(AVS_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs under ctest")

# avs_add_fuzzer(NAME SOURCES ... LIBS ... [CORPUS dir])
# A libFuzzer target, built only with AVS_FUZZ, run by ctest (label "fuzz") for
# AVS_FUZZ_SECONDS seconds starting from the optional seed corpus. The target
# fuzz_targets builds them all (scripts/fuzz.sh).
if(AVS_FUZZ AND NOT TARGET fuzz_targets)
  add_custom_target(fuzz_targets)
endif()
function(avs_add_fuzzer name)
  if(NOT AVS_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  add_dependencies(fuzz_targets ${name})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name}.corpus)
  file(MAKE_DIRECTORY ${work})
  set(args -max_total_time=${AVS_FUZZ_SECONDS} -rss_limit_mb=2048 -timeout=10 ${work})
  if(F_CORPUS)
    list(APPEND args ${F_CORPUS})
  endif()
  add_test(NAME ${name} COMMAND ${name} ${args})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
