# lame_enc: locating the header placeholder at the start of an MP3 file.
avs_add_fuzzer(lame_enc_tag_frame_fuzzer
  SOURCES ${CMAKE_SOURCE_DIR}/tests/platform/lame_enc/tag_frame_fuzzer.cpp
  LIBS lame_enc_core
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/lame_enc_tag_frame)
