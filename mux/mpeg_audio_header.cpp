#include "mux/mpeg_audio_header.h"

namespace mux {

namespace {

const int kBitRates[5][15] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
};

const int kSampleRates[4][3] = {
    {11025, 12000, 8000},   // MPEG-2.5
    {0, 0, 0},              // reserved
    {22050, 24000, 16000},  // MPEG-2
    {44100, 48000, 32000},  // MPEG-1
};

}  // namespace

MpegAudioHeader ParseMpegAudioHeader(uint32_t raw) {
    MpegAudioHeader h;
    h.raw = raw;
    h.version = (raw >> 19) & 3;
    h.layer = (raw >> 17) & 3;
    h.bitrate_index = (raw >> 12) & 15;
    h.sample_rate_index = (raw >> 10) & 3;
    h.padding = (raw >> 9) & 1;
    return h;
}

int BitRateKbps(const MpegAudioHeader& h) {
    if (h.layer == 0 || h.bitrate_index < 1 || h.bitrate_index > 14) return 0;
    int row = h.version == kMpeg1 ? h.layer == 3   ? 2
                                    : h.layer == 2 ? 1
                                                   : 0
                                  : (h.layer == 3 ? 4 : 3);
    return kBitRates[row][h.bitrate_index];
}

int SampleRateHz(const MpegAudioHeader& h) {
    if (h.sample_rate_index > 2) return 0;
    return kSampleRates[h.version][h.sample_rate_index];
}

int SamplesPerFrame(const MpegAudioHeader& h) {
    switch (h.layer) {
        case 3:
            return 384;
        case 2:
            return 1152;
        case 1:
            return h.version == kMpeg1 ? 1152 : 576;
        default:
            return 0;
    }
}

uint16_t FrameLength(const MpegAudioHeader& h) {
    int br = BitRateKbps(h);
    int sr = SampleRateHz(h);
    if (br == 0 || sr == 0) return 0;
    int len;
    if (h.layer == 3) {
        len = (12000 * br / sr + h.padding) * 4;
    } else if (h.layer == 2 || h.version == kMpeg1) {
        len = 144000 * br / sr + h.padding;
    } else {
        len = 144000 * br / (2 * sr) + h.padding;
    }
    return static_cast<uint16_t>(len);
}

int audio_object_type(int version) {
    if (version == kMpeg2 || version == kMpeg25) return 0x69;
    if (version == kMpeg1) return 0x6B;
    return 0;
}

}  // namespace mux
