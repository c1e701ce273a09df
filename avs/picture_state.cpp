#include "avs/picture_state.h"

#include <algorithm>

#include "avs/bitstream.h"
#include "avs/start_code.h"

namespace avs {

namespace {

// Whether one Exp-Golomb code can be read from the start of the bytes after emulation
// removal. Tries the first `quick` output bytes; a prefix of the output is exact, so a
// result found there is the result over all of it.
bool FirstCodeReadable(const uint8_t* src, size_t length, size_t quick) {
    uint8_t scratch[kSliceScratch];
    size_t limit = std::min(quick, sizeof scratch);
    for (;;) {
        size_t n = remove_emulation_bytes(src, length, scratch, limit);
        Bitstream bs(scratch, static_cast<uint32_t>(n * 8));
        try {
            (void)bs.read_ue();
            return true;
        } catch (const BitstreamError& e) {
            if (e.ErrorKind() != BitstreamError::Kind::kPastEnd || n < limit ||
                limit == sizeof scratch)
                return false;
        }
        limit = sizeof scratch;
    }
}

}  // namespace

UnitResult examine_unit(const uint8_t* unit, size_t unit_length, AvsPictureState& state) {
    state.type = classify_unit(unit, unit_length);
    switch (state.type) {
        case AvsUnitType::kSequenceHeader: {
            DecodeResult r = decode_sequence_header(unit, unit_length, state.header);
            if (r == DecodeResult::kBadFrameRate) return UnitResult::kBadFrameRate;
            return r == DecodeResult::kOk ? UnitResult::kStartsNew : UnitResult::kParseFailed;
        }
        case AvsUnitType::kSlice: {
            // Only the first code is read, so a few bytes usually settle it; the whole
            // 512-byte scratch is used only when they do not.
            size_t body = unit_length > 4 ? std::min(unit_length - 4, kSliceScratch) : 0;
            return FirstCodeReadable(unit + 4, body, 16) ? UnitResult::kContinues
                                                         : UnitResult::kParseFailed;
        }
        default:
            return UnitResult::kStartsNew;
    }
}

}  // namespace avs
