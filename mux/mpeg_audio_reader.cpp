#include "mux/mpeg_audio_reader.h"

#include "files/files.h"

namespace mux {

namespace {

bool ValidSecondByte(int b, bool accept_layer_00) {
    return (b & 0xE0) == 0xE0 && (b & 0x18) != 0x08 && ((b & 0x06) != 0 || accept_layer_00);
}

bool InvalidThirdByte(int b) {
    int top = b & 0xF0;
    return top == 0x00 || top == 0xF0 || (b & 0x0C) == 0x0C;
}

// Remembers the stream position and puts it back when it goes out of scope.
class PositionGuard {
  public:
    explicit PositionGuard(std::FILE* f) : f_(f), pos_(avs::files::Tell(f)) {}
    ~PositionGuard() {
        if (pos_ >= 0) avs::files::Seek(f_, pos_, SEEK_SET);
    }

  private:
    std::FILE* f_;
    int64_t pos_;
};

}  // namespace

bool MpegAudioReader::find_frame_header(bool accept_layer_00, uint32_t& header) {
    int s = 0;
    uint32_t h0 = 0, h1 = 0, h2 = 0;
    uint32_t dropped = 0;
    for (;;) {
        int b = avs::files::GetByte(in_);
        if (b == EOF) return false;
        if (s == 3) {
            header = (h0 << 24) | (h1 << 16) | (h2 << 8) | static_cast<uint32_t>(b);
            if (dropped > 0) std::fprintf(warn_, "Warning dropped %u input bytes\n", dropped);
            return true;
        }
        if (s == 2) {
            if (InvalidThirdByte(b)) {
                s = h1 == 0xFF ? 1 : 0;
            } else {
                h2 = b;
                s = 3;
            }
        }
        if (s == 1) {
            if (ValidSecondByte(b, accept_layer_00)) {
                h1 = b;
                s = 2;
            } else {
                s = 0;
            }
        }
        if (s == 0) {
            if (b == 0xFF) {
                h0 = 0xFF;
                s = 1;
            } else if (dropped == 0 && ValidSecondByte(b, accept_layer_00)) {
                // The header's 0xFF was the last byte before this search began.
                h0 = 0xFF;
                h1 = b;
                s = 2;
            } else {
                ++dropped;
            }
        }
    }
}

bool MpegAudioReader::read_frame(uint8_t* buffer, uint32_t& length) {
    uint32_t raw;
    if (!find_frame_header(false, raw)) return false;
    uint32_t frame = FrameLength(ParseMpegAudioHeader(raw));
    if (frame < 4 || frame > length) return false;
    buffer[0] = static_cast<uint8_t>(raw >> 24);
    buffer[1] = static_cast<uint8_t>(raw >> 16);
    buffer[2] = static_cast<uint8_t>(raw >> 8);
    buffer[3] = static_cast<uint8_t>(raw);
    if (std::fread(buffer + 4, 1, frame - 4, in_) != frame - 4) return false;
    length = frame;
    return true;
}

bool MpegAudioReader::probe_layer(int& layer) {
    PositionGuard keep(in_);
    uint32_t raw;
    if (!find_frame_header(true, raw)) return false;
    layer = ParseMpegAudioHeader(raw).layer;
    return true;
}

bool MpegAudioReader::probe_header(MpegAudioProbe& probe) {
    PositionGuard keep(in_);
    uint32_t raw;
    if (!find_frame_header(false, raw)) return false;
    MpegAudioHeader h = ParseMpegAudioHeader(raw);
    probe.sample_rate = static_cast<uint16_t>(SampleRateHz(h));
    probe.samples_per_frame = static_cast<uint16_t>(SamplesPerFrame(h));
    probe.bit_rate_kbps = static_cast<uint16_t>(BitRateKbps(h));
    probe.version = static_cast<uint8_t>(h.version);
    return true;
}

}  // namespace mux
