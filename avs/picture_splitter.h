// Groups the units of a stream into pictures, as containers store them: each picture's
// header, the units between it and its first slice, and its slices, preceded by whatever
// sequence header, extension, user-data and other units stand before it. Units after the
// last picture join the last picture.
//
//   avs::MemoryByteSource src(bytes, size);
//   avs::AvsUnitReader reader(src);
//   avs::AvsPictureSplitter pictures(reader);
//   std::vector<uint8_t> picture;
//   while (pictures.next(picture)) store(picture);
#pragma once

#include <cstdint>
#include <vector>

#include "avs/unit_reader.h"
#include "avs/unit_type.h"

namespace avs {

// True for an I, P or B picture header (start-code value 0xB3 or 0xB6).
bool IsPictureHeader(const uint8_t* unit, size_t unit_length);

class AvsPictureSplitter {
  public:
    explicit AvsPictureSplitter(AvsUnitReader& reader) : reader_(reader) {}

    // Replaces `picture` with the next picture's bytes (start codes included); false when
    // the stream holds no further unit. `type` is the class of its picture header unit
    // (AvsUnitType::None when the stream ended without any picture header).
    bool Next(std::vector<uint8_t>& picture, AvsUnitType* type = nullptr);

  private:
    AvsUnitReader& reader_;
    bool pending_ = false;  // the reader holds a unit not yet consumed
    bool started_ = false;
    std::vector<uint8_t> carry_;  // units read that stand before the next picture
};

}  // namespace avs
