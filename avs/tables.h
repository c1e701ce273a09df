// Lookup tables indexed by sequence-header codes.
#pragma once

#include <cstdint>

namespace avs {

// Frames per second by frame_rate_code as exact quotients (24000/1001 ...); 0 where invalid.
extern const double kFrameRateTable[16];
// The filters' single-precision table: decimal rates for codes 1-8, 15.0 for code 9, else 0.
extern const float kFilterFrameRateTable[16];
// AvgTimePerFrame in 100 ns units by frame_rate_code.
extern const int64_t kFrameTimeTable[16];
// 393700 times the MPEG-1 pel aspect ratio by aspect_ratio_information (truncated).
extern const int32_t kPelAspectTable[16];

// Codes 1-8 are the rates the multiplexer accepts.
inline bool IsValidFrameRateCode(int code) {
    return code >= 1 && code <= 8;
}

}  // namespace avs
