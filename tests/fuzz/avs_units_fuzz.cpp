// Unit reader, access-unit examination and picture grouping over arbitrary bytes, with a small
// buffer cap so that cut units are exercised too.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avs/avs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t cap = size > 0 && (data[0] & 1) ? avs::AvsUnitReader::kGrowStep * 2
                                             : avs::AvsUnitReader::kDefaultMaxCapacity;
    avs::MemoryByteSource source(data, size);
    avs::AvsUnitReader reader(source, cap);
    avs::AvsPictureState state;
    size_t total = 0;
    size_t access_unit = 0;  // gathered in the reader's buffer as the multiplexer does
    uint8_t check = 0;
    while (avs::read_next_unit(reader)) {
        if (reader.UnitLength() == 0 || reader.UnitLength() > reader.Filled()) __builtin_trap();
        total += reader.UnitLength();
        if (total > size) __builtin_trap();  // units never repeat bytes
        state.previous_type = state.type;
        avs::UnitResult r = avs::examine_unit(reader.Data(), reader.UnitLength(), state);
        if (r != avs::UnitResult::kContinues && r != avs::UnitResult::kStartsNew &&
            r != avs::UnitResult::kParseFailed && r != avs::UnitResult::kBadFrameRate)
            __builtin_trap();
        if (r != avs::UnitResult::kContinues && access_unit > 0) {
            if (reader.RetainedLength() != access_unit) __builtin_trap();
            for (size_t i = 0; i < access_unit; ++i) check ^= reader.Retained()[i];
            reader.Release();
            access_unit = 0;
        }
        if (access_unit == 0) reader.Retain();
        access_unit += reader.UnitLength();
    }
    if (reader.RetainedLength() != access_unit) __builtin_trap();
    for (size_t i = 0; i < access_unit; ++i) check ^= reader.Retained()[i];
    (void)check;
    // The same bytes grouped into pictures: nothing is repeated.
    avs::MemoryByteSource again(data, size);
    avs::AvsUnitReader reader2(again, cap);
    avs::AvsPictureSplitter pictures(reader2);
    std::vector<uint8_t> picture;
    size_t grouped = 0;
    while (pictures.Next(picture)) {
        if (picture.empty()) __builtin_trap();
        grouped += picture.size();
    }
    if (grouped != total) __builtin_trap();
    return 0;
}
