#include "avs/picture_splitter.h"

#include <utility>

namespace avs {

bool IsPictureHeader(const uint8_t* unit, size_t unit_length) {
    return unit_length > 3 && (unit[3] == 0xB3 || unit[3] == 0xB6);
}

bool AvsPictureSplitter::Next(std::vector<uint8_t>& picture, AvsUnitType* type) {
    picture = std::move(carry_);
    carry_.clear();
    if (type) *type = AvsUnitType::kNone;
    if (!started_) {
        started_ = true;
        pending_ = read_next_unit(reader_);
    }
    bool have_header = false;
    bool have_slice = false;
    while (pending_) {
        const uint8_t* unit = reader_.Data();
        const uint32_t length = reader_.UnitLength();
        if (IsPictureHeader(unit, length)) {
            if (have_header) return true;  // it opens the next picture; left pending
            have_header = true;
            if (type) *type = classify_unit(unit, length);
        } else if (classify_unit(unit, length) == AvsUnitType::kSlice) {
            have_slice = have_header;
        } else if (have_slice) {
            // Units after the slices stand before the next picture, unless the stream
            // ends first: then they close this one.
            while (pending_ && !IsPictureHeader(reader_.Data(), reader_.UnitLength())) {
                carry_.insert(carry_.end(), reader_.Data(), reader_.Data() + reader_.UnitLength());
                pending_ = read_next_unit(reader_);
            }
            if (!pending_) {
                picture.insert(picture.end(), carry_.begin(), carry_.end());
                carry_.clear();
            }
            return true;
        }
        picture.insert(picture.end(), unit, unit + length);
        pending_ = read_next_unit(reader_);
    }
    return !picture.empty();
}

}  // namespace avs
