avs_add_fuzzer(fuzz_platform_registry
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform/registry_fuzz.cpp
  LIBS avs_com
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/platform/corpus)
