// Builds synthetic AVS1-P2 elementary streams for tests and benchmarks: a sequence header
// with chosen fields, picture headers and slices of random non-zero bytes (so that no start
// code or emulation byte appears inside a body).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace avs::synthetic {

struct SequenceFields {
    int profile_id = 0x20;
    int level_id = 0x40;
    int progressive_sequence = 1;
    int horizontal_size = 352;
    int vertical_size = 288;
    int chroma_format = 1;
    int sample_precision = 1;
    int aspect_ratio_information = 2;
    int frame_rate_code = 3;
    uint32_t bit_rate_lower = 2500;
    uint32_t bit_rate_upper = 0;
    int low_delay = 0;
    uint32_t bbv_buffer_size = 0x3FFFF;
};

// MSB-first bit writer.
class BitWriter {
  public:
    void Put(uint32_t value, int width);
    std::vector<uint8_t> Finish();  // pads the last byte with zero bits

  private:
    std::vector<uint8_t> bytes_;
    int used_ = 8;
};

// 00 00 01 B0 and the header fields (marker bits set, reserved bits zero).
std::vector<uint8_t> SequenceHeader(const SequenceFields& f);

// 00 00 01 B3 (I picture) with bbv_delay and a few further bytes.
std::vector<uint8_t> IPictureHeader();
// 00 00 01 B6 with picture_coding_type 1 (P) or 2 (B) in the top bits of byte 6.
std::vector<uint8_t> PbPictureHeader(int coding_type);
// 00 00 01 <slice_vertical_position> and `body` random bytes from 1 to 255.
std::vector<uint8_t> Slice(uint8_t position, size_t body, std::mt19937& rng);

enum class PictureKind { kI, kP, kB };

// Appends one picture (header plus `slices` slices of `slice_body` bytes) to out.
void AppendPicture(std::vector<uint8_t>& out, PictureKind kind, int slices, size_t slice_body,
                   std::mt19937& rng);

// A stream: sequence header, then `pictures` pictures in the pattern I P B B P B B ...,
// a sequence header again before every `gop`-th picture, and 00 00 01 B1 at the end.
std::vector<uint8_t> Stream(const SequenceFields& f, int pictures, int slices, size_t slice_body,
                            int gop, uint32_t seed);

}  // namespace avs::synthetic
