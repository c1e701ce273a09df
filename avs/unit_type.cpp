#include "avs/unit_type.h"

namespace avs {

AvsUnitType classify_unit(const uint8_t* unit, size_t unit_length) {
    const uint8_t code = unit_length > 3 ? unit[3] : 0;
    const uint8_t byte6 = unit_length > 6 ? unit[6] : 0;
    switch (code) {
        case 0xB0:
            return AvsUnitType::kSequenceHeader;
        case 0xB5:
            return AvsUnitType::kExtension;
        case 0xB2:
            return AvsUnitType::kUserData;
        case 0xB7:
            return AvsUnitType::kVideoEdit;
        case 0xB3:
            return AvsUnitType::kIPicture;
        case 0xB6:
            if ((byte6 & 0xC0) == 0x40) return AvsUnitType::kPPicture;
            if ((byte6 & 0xC0) == 0x80) return AvsUnitType::kBPicture;
            return static_cast<AvsUnitType>(code);
        default:
            if (code <= 0xAF) return AvsUnitType::kSlice;
            return static_cast<AvsUnitType>(code);
    }
}

}  // namespace avs
