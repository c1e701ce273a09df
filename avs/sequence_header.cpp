#include "avs/sequence_header.h"

#include <algorithm>
#include <cstring>

#include "avs/bitstream.h"
#include "avs/start_code.h"
#include "avs/tables.h"

namespace avs {

DecodeResult decode_sequence_header(const uint8_t* unit, size_t unit_length,
                                    AvsSequenceHeader& header) {
    uint8_t scratch[kSequenceHeaderScratch];
    size_t body = unit_length > 4 ? std::min(unit_length - 4, kSequenceHeaderScratch) : 0;
    size_t n = remove_emulation_bytes(unit + 4, body, scratch, sizeof scratch);
    Bitstream bs(scratch, static_cast<uint32_t>(n * 8));
    try {
        header.profile_id = static_cast<int32_t>(bs.get_bits(8));
        header.level_id = static_cast<int32_t>(bs.get_bits(8));
        header.progressive_sequence = static_cast<int32_t>(bs.get_bits(1));
        header.horizontal_size = static_cast<int32_t>(bs.get_bits(14));
        header.vertical_size = static_cast<int32_t>(bs.get_bits(14));
        header.chroma_format = static_cast<int32_t>(bs.get_bits(2));
        header.sample_precision = static_cast<int32_t>(bs.get_bits(3));
        header.aspect_ratio_information = static_cast<int32_t>(bs.get_bits(4));
        header.frame_rate_code = static_cast<int32_t>(bs.get_bits(4));
        if (!IsValidFrameRateCode(header.frame_rate_code)) return DecodeResult::kBadFrameRate;
        header.frame_rate = kFrameRateTable[header.frame_rate_code];
        uint32_t lower = bs.get_bits(18);
        bs.get_bits(1);  // marker
        uint32_t upper = bs.get_bits(12);
        header.bit_rate = static_cast<int32_t>(lower + upper * 0x40000u);
    } catch (const BitstreamError&) {
        return DecodeResult::kTruncated;
    }
    return DecodeResult::kOk;
}

namespace {

// Bit field at a fixed position counted from the first bit after the start code.
uint32_t FixedBits(const uint8_t* bytes, size_t length, unsigned first_bit, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) {
        size_t bit = 32 + first_bit + i;
        size_t byte = bit / 8;
        uint32_t b = byte < length ? (bytes[byte] >> (7 - bit % 8)) & 1u : 0u;
        v = (v << 1) | b;
    }
    return v;
}

}  // namespace

bool DecodeSequenceHeaderFixed(const uint8_t* bytes, size_t length, AvsSequenceHeader& header) {
    header = AvsSequenceHeader{};
    if (bytes == nullptr) length = 0;
    auto f = [&](unsigned first, unsigned width) {
        return static_cast<int32_t>(FixedBits(bytes, length, first, width));
    };
    header.profile_id = f(0, 8);
    header.level_id = f(8, 8);
    header.progressive_sequence = f(16, 1);
    header.horizontal_size = f(17, 14);
    header.vertical_size = f(31, 14);
    header.chroma_format = f(45, 2);
    header.sample_precision = f(47, 3);
    header.aspect_ratio_information = f(50, 4);
    header.frame_rate_code = f(54, 4);
    header.frame_rate = kFilterFrameRateTable[header.frame_rate_code & 15];
    header.bit_rate = f(58, 18) + f(77, 12) * 0x40000;
    header.low_delay = f(89, 1);
    header.bbv_buffer_size = f(91, 18);
    uint32_t next = find_start_code(bytes, length);
    size_t total = next > 0 ? next : length;
    header.header_length = static_cast<int32_t>(total);
    if (total > 0) std::memcpy(header.header_bytes, bytes, std::min(total, kHeaderBytesRoom));
    return length >= 4 + 14;
}

}  // namespace avs
