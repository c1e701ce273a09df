// Access-unit boundaries: which units start a new access unit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avs/sequence_header.h"
#include "avs/unit_type.h"

namespace avs {

// Carried by the caller from unit to unit; value-initialise before the first unit.
struct AvsPictureState {
    AvsUnitType type = AvsUnitType::kNone;           // class of the most recent unit
    AvsUnitType previous_type = AvsUnitType::kNone;  // the caller copies `type` here first
    AvsSequenceHeader header;                        // refreshed at every sequence header
};

// Results of examine_unit.
enum class UnitResult {
    kContinues,     // a slice: joins the current access unit
    kStartsNew,     // any other unit opens a new access unit
    kParseFailed,   // treat like StartsNew
    kBadFrameRate,  // sequence header with frame_rate_code 0 or 9-15
};

// Classifies the unit into state.type; decodes a sequence header into state.header; for a
// slice reads the first Exp-Golomb value (after emulation removal of up to 512 bytes).
UnitResult examine_unit(const uint8_t* unit, size_t unit_length, AvsPictureState& state);

}  // namespace avs
