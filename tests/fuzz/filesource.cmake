# The file source filter over arbitrary file bytes: Load through the file reader,
# then playback of every stream and a seek, through the graph objects.
avs_add_fuzzer(filesource_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/filesource_fuzz.cpp
  LIBS branwick_test_harness
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/mp4_corpus)
