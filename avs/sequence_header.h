// The decoded AVS1-P2 video sequence header and its two decoders.
//
// decode_sequence_header: the multiplexer's decode of a whole 00 00 01 B0 unit
//   (emulation bytes removed first, fields read with Bitstream).
// decode_sequence_header_fixed: the source filters' decode from raw header bytes at
//   fixed bit positions, also filling header_length and header_bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avs {

constexpr size_t kHeaderBytesRoom = 140;

struct AvsSequenceHeader {
    int32_t profile_id = 0;
    int32_t level_id = 0;
    int32_t progressive_sequence = 0;
    int32_t horizontal_size = 0;
    int32_t vertical_size = 0;
    int32_t chroma_format = 0;
    int32_t sample_precision = 0;
    int32_t aspect_ratio_information = 0;
    int32_t frame_rate_code = 0;
    double frame_rate = 0.0;  // frames per second
    int32_t bit_rate = 0;     // units of 400 bit/s
    int32_t low_delay = 0;
    int32_t bbv_buffer_size = 0;
    // Filters only: the raw header unit, start code included.
    int32_t header_length = 0;
    uint8_t header_bytes[kHeaderBytesRoom] = {};
};

// Results of decode_sequence_header.
enum class DecodeResult {
    kOk,
    kTruncated,     // a read ran past the available bits
    kBadFrameRate,  // frame_rate_code 0 or 9-15; decoding stopped
};

// Decodes the unit (unit_length bytes starting with 00 00 01 B0) the multiplexer's way:
// the bytes after the 4-byte start code (at most 2048) lose their emulation bytes, then
// profile_id .. bit_rate are read in order (frame_rate from frame_rate_table). Fields past
// bit_rate are not read. The multiplexer ends itself on BadFrameRate.
DecodeResult decode_sequence_header(const uint8_t* unit, size_t unit_length,
                                    AvsSequenceHeader& header);

// The filters' decode: header is zeroed, every field up to bbv_buffer_size is taken from
// its fixed bit position after the 4-byte start code (whose value is not tested; bits
// beyond `length` read as 0), frame_rate from filter_frame_rate_table, header_length is
// the offset of the next 00 00 01 in bytes[0, length) (find_start_code) or `length` when
// there is none, and header_bytes holds the first min(header_length, 140) bytes.
// Returns true when all 18 bytes holding those fields were present.
bool DecodeSequenceHeaderFixed(const uint8_t* bytes, size_t length, AvsSequenceHeader& header);

}  // namespace avs
