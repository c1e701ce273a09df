# The GStreamer plugin's depacketizer (and the container sample unpacking
# beside it), through the plugin's GStreamer-free core.
avs_add_fuzzer(gst_rtp_depay_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/gst/gst_rtp_depay_fuzz.cpp
  LIBS avs_gst_core CORPUS ${CMAKE_CURRENT_LIST_DIR}/gst/rtp_corpus)
