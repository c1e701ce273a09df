// Reads an MPEG audio stream frame by frame from a C file stream, synchronising on frame
// headers byte by byte and reporting skipped garbage.
#pragma once

#include <cstdint>
#include <cstdio>

#include "mux/mpeg_audio_header.h"

namespace mux {

struct MpegAudioProbe {
    uint16_t sample_rate = 0;
    uint16_t samples_per_frame = 0;
    uint16_t bit_rate_kbps = 0;
    uint8_t version = 0;
};

class MpegAudioReader {
  public:
    // `in` is read (give it a large buffer), `warnings` receives the dropped-bytes lines.
    MpegAudioReader(std::FILE* in, std::FILE* warnings) : in_(in), warn_(warnings) {}

    // Consumes the stream up to and including the fourth header byte. accept_layer_00 lets
    // headers with layer bits 00 (AAC ADTS) through. False at the end of the stream.
    bool find_frame_header(bool accept_layer_00, uint32_t& header);

    // On entry `length` is the buffer capacity; on success the buffer holds one whole
    // frame (header first) and `length` its size. False at the end of the stream, for a
    // frame longer than the capacity, or when the frame is cut short.
    bool read_frame(uint8_t* buffer, uint32_t& length);

    // Both search from the current position and put it back afterwards.
    bool probe_layer(int& layer);
    bool probe_header(MpegAudioProbe& probe);

  private:
    std::FILE* in_;
    std::FILE* warn_;
};

}  // namespace mux
