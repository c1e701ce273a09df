# The box reader and the AVS container over arbitrary bytes.
avs_add_fuzzer(mp4_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mp4_fuzz.cpp
  LIBS avs_filesource
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/mp4_corpus)
