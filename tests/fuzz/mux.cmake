# Fuzz target of Korvel's MPEG audio reader.
avs_add_fuzzer(mpeg_audio_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpeg_audio_fuzz.cpp LIBS mux
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/mpeg_audio)
