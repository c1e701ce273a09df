#include "avs/unit_type.h"

namespace avs {

AvsUnitType classify_unit(const uint8_t* unit, size_t unit_length) {
    const uint8_t code = unit_length > 3 ? unit[3] : 0;
    const uint8_t byte6 = unit_length > 6 ? unit[6] : 0;
    switch (code) {
        case 0xB0:
            return AvsUnitType::SequenceHeader;
        case 0xB5:
            return AvsUnitType::Extension;
        case 0xB2:
            return AvsUnitType::UserData;
        case 0xB7:
            return AvsUnitType::VideoEdit;
        case 0xB3:
            return AvsUnitType::IPicture;
        case 0xB6:
            if ((byte6 & 0xC0) == 0x40) return AvsUnitType::PPicture;
            if ((byte6 & 0xC0) == 0x80) return AvsUnitType::BPicture;
            return static_cast<AvsUnitType>(code);
        default:
            if (code <= 0xAF) return AvsUnitType::Slice;
            return static_cast<AvsUnitType>(code);
    }
}

}  // namespace avs
