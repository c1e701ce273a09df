# Fuzz targets of the AVS elementary-stream reader; the real streams seed them.
avs_add_fuzzer(avs_units_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/avs_units_fuzz.cpp LIBS avs
  CORPUS ${CMAKE_SOURCE_DIR}/tests/data)
avs_add_fuzzer(avs_sequence_header_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/avs_sequence_header_fuzz.cpp LIBS avs
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/avs_sequence_header)
