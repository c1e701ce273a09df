// Classes of AVS1-P2 start-code units.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avs {

// Values 1..8 are the named classes; any other start-code value (0xB1 sequence end,
// 0xB4, 0xB8..0xFF, and 0xB6 with picture_coding_type 00 or 11) is its own value.
enum class AvsUnitType : int {
    kNone = 0,
    kSequenceHeader = 1,  // 0xB0
    kExtension = 2,       // 0xB5
    kUserData = 3,        // 0xB2
    kVideoEdit = 4,       // 0xB7
    kIPicture = 5,        // 0xB3
    kPPicture = 6,        // 0xB6, picture_coding_type 01
    kBPicture = 7,        // 0xB6, picture_coding_type 10
    kSlice = 8,           // 0x00..0xAF
};

// Classifies the unit from its bytes 3 (start-code value) and 6 (top two bits:
// picture_coding_type of a PB picture). Bytes beyond unit_length count as 0.
AvsUnitType classify_unit(const uint8_t* unit, size_t unit_length);

// Picture headers and slices: the units after which a picture's access unit is complete.
inline bool IsPictureOrSlice(AvsUnitType t) {
    int v = static_cast<int>(t);
    return v >= 5 && v <= 10;
}

}  // namespace avs
