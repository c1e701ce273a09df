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
        if (reader.unit_length() == 0 || reader.unit_length() > reader.filled()) __builtin_trap();
        total += reader.unit_length();
        if (total > size) __builtin_trap();  // units never repeat bytes
        state.previous_type = state.type;
        avs::UnitResult r = avs::examine_unit(reader.data(), reader.unit_length(), state);
        if (r != avs::UnitResult::Continues && r != avs::UnitResult::StartsNew &&
            r != avs::UnitResult::ParseFailed && r != avs::UnitResult::BadFrameRate)
            __builtin_trap();
        if (r != avs::UnitResult::Continues && access_unit > 0) {
            if (reader.retained_length() != access_unit) __builtin_trap();
            for (size_t i = 0; i < access_unit; ++i) check ^= reader.retained()[i];
            reader.release();
            access_unit = 0;
        }
        if (access_unit == 0) reader.retain();
        access_unit += reader.unit_length();
    }
    if (reader.retained_length() != access_unit) __builtin_trap();
    for (size_t i = 0; i < access_unit; ++i) check ^= reader.retained()[i];
    (void)check;
    // The same bytes grouped into pictures: nothing is repeated.
    avs::MemoryByteSource again(data, size);
    avs::AvsUnitReader reader2(again, cap);
    avs::AvsPictureSplitter pictures(reader2);
    std::vector<uint8_t> picture;
    size_t grouped = 0;
    while (pictures.next(picture)) {
        if (picture.empty()) __builtin_trap();
        grouped += picture.size();
    }
    if (grouped != total) __builtin_trap();
    return 0;
}
