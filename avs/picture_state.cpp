#include "avs/picture_state.h"

#include <algorithm>

#include "avs/bitstream.h"
#include "avs/start_code.h"

namespace avs {

int examine_unit(const uint8_t* unit, size_t unit_length, AvsPictureState& state) {
    state.type = classify_unit(unit, unit_length);
    switch (state.type) {
        case AvsUnitType::SequenceHeader: {
            int r = decode_sequence_header(unit, unit_length, state.header);
            if (r == kDecodeBadFrameRate) return kUnitBadFrameRate;
            return r == kDecodeOk ? kUnitStartsNew : kUnitParseFailed;
        }
        case AvsUnitType::Slice: {
            uint8_t scratch[kSliceScratch];
            size_t body = unit_length > 4 ? std::min(unit_length - 4, kSliceScratch) : 0;
            size_t n = remove_emulation_bytes(unit + 4, body, scratch, sizeof scratch);
            Bitstream bs(scratch, static_cast<uint32_t>(n * 8));
            try {
                (void)bs.read_ue();
            } catch (BitstreamErr_t) {
                return kUnitParseFailed;
            }
            return kUnitContinues;
        }
        default:
            return kUnitStartsNew;
    }
}

}  // namespace avs
