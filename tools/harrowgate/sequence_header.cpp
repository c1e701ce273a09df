#include "tools/harrowgate/sequence_header.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/harrowgate/bit_writer.h"

namespace harrowgate {
namespace {

constexpr double kFrameRates[9] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                   50, 60000.0 / 1001, 60};
constexpr uint8_t kJizhunProfile = 0x20;
constexpr uint8_t kLevelStandardDefinition = 0x20;  // up to 720x576
constexpr uint8_t kLevelHighDefinition = 0x40;      // up to 1920x1080

}  // namespace

int NearestFrameRateCode(double fps) {
    int best = 1;
    for (int code = 2; code <= 8; ++code)
        if (std::fabs(kFrameRates[code] - fps) < std::fabs(kFrameRates[best] - fps)) best = code;
    return best;
}

double FrameRateOfCode(int code) {
    if (code < 1 || code > 8) throw std::invalid_argument("frame_rate_code out of range");
    return kFrameRates[code];
}

namespace {

std::vector<uint8_t> HeaderBytes(const SequenceParameters& p, uint32_t rate) {
    BitWriter out;
    out.PutStartCode(0xB0);
    out.PutBits(kJizhunProfile, 8);
    const bool standard = p.width <= 720 && p.height <= 576;
    out.PutBits(standard ? kLevelStandardDefinition : kLevelHighDefinition, 8);
    out.PutBit(p.progressive);  // progressive_sequence
    out.PutBits(static_cast<uint32_t>(p.width), 14);
    out.PutBits(static_cast<uint32_t>(p.height), 14);
    out.PutBits(1, 2);  // chroma_format 4:2:0
    out.PutBits(1, 3);  // sample_precision: 8 bit
    out.PutBits(1, 4);  // aspect_ratio_information: square samples
    out.PutBits(static_cast<uint32_t>(p.frame_rate_code), 4);
    out.PutBits(rate & 0x3FFFF, 18);  // bit_rate_lower
    out.PutBit(true);                 // marker_bit
    out.PutBits(rate >> 18, 12);      // bit_rate_upper
    out.PutBit(false);                // low_delay
    out.PutBit(true);                 // marker_bit
    out.PutBits(p.bbv_buffer_size & 0x3FFFF, 18);
    out.PutBits(0, 3);  // reserved
    out.StuffToByte();
    return out.Take();
}

}  // namespace

std::vector<uint8_t> SequenceHeaderUnit(const SequenceParameters& p) {
    if (p.width <= 0 || p.width > 16383 || p.height <= 0 || p.height > 16383)
        throw std::invalid_argument("picture size does not fit the sequence header");
    // bit_rate is informative; a zero or a value whose bits emulate a start code is nudged.
    uint32_t rate = std::max<uint32_t>(1, p.bit_rate_400 & 0x3FFFFFFFu);
    for (;;) {
        std::vector<uint8_t> unit = HeaderBytes(p, rate);
        if (!ContainsStartCodePrefix(unit.data() + 3, unit.size() - 3)) return unit;
        ++rate;
    }
}

std::vector<uint8_t> SequenceEndUnit() {
    return {0x00, 0x00, 0x01, 0xB1};
}

}  // namespace harrowgate
