// MPEG audio synchronisation, probing and frame reading over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mux/mpeg_audio_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (size == 0) return 0;
    std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!in) return 0;
    mux::MpegAudioReader reader(in, sink);
    int layer;
    reader.probe_layer(layer);
    mux::MpegAudioProbe probe;
    reader.probe_header(probe);
    uint8_t frame[8192];
    for (;;) {
        uint32_t length = size % 2 ? sizeof frame : 1000;
        uint32_t capacity = length;
        if (!reader.read_frame(frame, length)) break;
        if (length < 4 || length > capacity) __builtin_trap();
    }
    std::fclose(in);
    return 0;
}
