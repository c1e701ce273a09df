# Fuzz targets of the RTSP receive side: the reply parser, the SDP decoder with
# the examination of its result, and the depacketizer behind OnRtpPacket.
set(rtsp_fuzz_dir ${CMAKE_CURRENT_LIST_DIR}/rtsp)
avs_add_fuzzer(fuzz_rtsp_reply SOURCES ${rtsp_fuzz_dir}/fuzz_rtsp_reply.cpp LIBS rtsp
  CORPUS ${rtsp_fuzz_dir}/reply_corpus)
avs_add_fuzzer(fuzz_sdp SOURCES ${rtsp_fuzz_dir}/fuzz_sdp.cpp LIBS rtspstream_session
  CORPUS ${rtsp_fuzz_dir}/sdp_corpus)
avs_add_fuzzer(fuzz_rtp_packet SOURCES ${rtsp_fuzz_dir}/fuzz_rtp_packet.cpp LIBS rtspstream_session
  CORPUS ${rtsp_fuzz_dir}/rtp_corpus)
