#include "sequence_header.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bit_writer.h"

namespace harrowgate {
namespace {

constexpr double kFrameRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                   50, 60000.0 / 1001, 60};
constexpr uint8_t kJizhunProfile = 0x20;
constexpr uint8_t kLevelStandardDefinition = 0x20;  // up to 720x576
constexpr uint8_t kLevelHighDefinition = 0x40;      // up to 1920x1080

}  // namespace

int nearest_frame_rate_code(double fps) {
    int best = 1;
    for (int code = 2; code <= 8; ++code)
        if (std::fabs(kFrameRates[code] - fps) < std::fabs(kFrameRates[best] - fps)) best = code;
    return best;
}

double frame_rate_of_code(int code) {
    if (code < 1 || code > 8) throw std::invalid_argument("frame_rate_code out of range");
    return kFrameRates[code];
}

namespace {

std::vector<uint8_t> header_bytes(const SequenceParameters& p, uint32_t rate) {
    BitWriter out;
    out.put_start_code(0xB0);
    out.put_bits(kJizhunProfile, 8);
    const bool standard = p.width <= 720 && p.height <= 576;
    out.put_bits(standard ? kLevelStandardDefinition : kLevelHighDefinition, 8);
    out.put_bit(true);  // progressive_sequence
    out.put_bits(static_cast<uint32_t>(p.width), 14);
    out.put_bits(static_cast<uint32_t>(p.height), 14);
    out.put_bits(1, 2);  // chroma_format 4:2:0
    out.put_bits(1, 3);  // sample_precision: 8 bit
    out.put_bits(1, 4);  // aspect_ratio_information: square samples
    out.put_bits(static_cast<uint32_t>(p.frame_rate_code), 4);
    out.put_bits(rate & 0x3FFFF, 18);  // bit_rate_lower
    out.put_bit(true);                 // marker_bit
    out.put_bits(rate >> 18, 12);      // bit_rate_upper
    out.put_bit(false);                // low_delay
    out.put_bit(true);                 // marker_bit
    out.put_bits(0x3FFFF, 18);         // bbv_buffer_size: largest
    out.put_bits(0, 3);                // reserved
    out.stuff_to_byte();
    return out.take();
}

}  // namespace

std::vector<uint8_t> sequence_header_unit(const SequenceParameters& p) {
    if (p.width <= 0 || p.width > 16383 || p.height <= 0 || p.height > 16383)
        throw std::invalid_argument("picture size does not fit the sequence header");
    // bit_rate is informative; a zero or a value whose bits emulate a start code is nudged.
    uint32_t rate = std::max<uint32_t>(1, p.bit_rate_400 & 0x3FFFFFFFu);
    for (;;) {
        std::vector<uint8_t> unit = header_bytes(p, rate);
        if (!contains_start_code_prefix(unit.data() + 3, unit.size() - 3)) return unit;
        ++rate;
    }
}

std::vector<uint8_t> sequence_end_unit() {
    return {0x00, 0x00, 0x01, 0xB1};
}

}  // namespace harrowgate
