// Unit reader and access-unit examination over arbitrary bytes, with a small buffer cap
// so that cut units are exercised too.
#include <cstddef>
#include <cstdint>

#include "avs/avs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t cap = size > 0 && (data[0] & 1) ? avs::AvsUnitReader::kGrowStep * 2
                                             : avs::AvsUnitReader::kDefaultMaxCapacity;
    avs::MemoryByteSource source(data, size);
    avs::AvsUnitReader reader(source, cap);
    avs::AvsPictureState state;
    size_t total = 0;
    while (avs::read_next_unit(reader)) {
        if (reader.unit_length() == 0 || reader.unit_length() > reader.filled()) __builtin_trap();
        total += reader.unit_length();
        if (total > size) __builtin_trap();  // units never repeat bytes
        state.previous_type = state.type;
        int r = avs::examine_unit(reader.data(), reader.unit_length(), state);
        if (r < -2 || r > 1) __builtin_trap();
    }
    return 0;
}
