#pragma once

#include <cstdint>
#include <vector>

namespace harrowgate {

struct SequenceParameters {
    int width = 0;   // whole macroblocks
    int height = 0;  // whole macroblocks
    int frame_rate_code = 3;
    uint32_t bit_rate_400 = 1;           // bit rate in units of 400 bit/s (30 bits)
    uint32_t bbv_buffer_size = 0x3FFFF;  // decoder buffer in units of 16384 bits (18 bits)
    bool progressive = true;             // progressive_sequence; 0: interlaced frames
};

// frame_rate_code (1..8) whose rate is nearest to `fps`.
int NearestFrameRateCode(double fps);
double FrameRateOfCode(int code);

// The sequence header unit (start code 00 00 01 B0 through its stuffing byte): Jizhun
// profile, 4:2:0, 8 bit, square samples.
std::vector<uint8_t> SequenceHeaderUnit(const SequenceParameters& parameters);

// The sequence end unit 00 00 01 B1.
std::vector<uint8_t> SequenceEndUnit();

}  // namespace harrowgate
