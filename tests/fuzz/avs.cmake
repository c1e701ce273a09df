# Fuzz targets of the AVS elementary-stream reader; the heads of the real
# streams seed them (whole streams would make every input tens of KB long).
avs_add_fuzzer(avs_units_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/avs_units_fuzz.cpp LIBS avs
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/avs_units)
avs_add_fuzzer(avs_sequence_header_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/avs_sequence_header_fuzz.cpp LIBS avs
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/avs_sequence_header)
