// Fields, rates and frame length of an MPEG-1/2/2.5 audio frame header.
#pragma once

#include <cstdint>

namespace mux {

// Values of the version field.
constexpr int kMpeg25 = 0;
constexpr int kMpegReservedVersion = 1;
constexpr int kMpeg2 = 2;
constexpr int kMpeg1 = 3;

struct MpegAudioHeader {
    uint32_t raw = 0;  // the four header bytes, byte 0 in bits 31-24
    int version = 0;
    int layer = 0;  // field value: 1 = layer III, 2 = layer II, 3 = layer I, 0 reserved
    int bitrate_index = 0;
    int sample_rate_index = 0;
    int padding = 0;
};

MpegAudioHeader ParseMpegAudioHeader(uint32_t raw);

// kbit/s; 0 for indices outside 1-14 or a reserved layer.
int BitRateKbps(const MpegAudioHeader& h);
// Hz; 0 for the reserved version or index 3.
int SampleRateHz(const MpegAudioHeader& h);
// 384, 1152 or 576; 0 for the reserved layer.
int SamplesPerFrame(const MpegAudioHeader& h);
// Frame length in bytes including the header; 0 when rate or layer are unusable.
uint16_t FrameLength(const MpegAudioHeader& h);
// 0x69 for MPEG-2 and 2.5, 0x6B for MPEG-1, 0 for the reserved version.
int audio_object_type(int version);

}  // namespace mux
