#include "avs/start_code.h"

namespace avs {

uint32_t find_start_code(const uint8_t* bytes, size_t length) {
    if (length < 4) return 0;
    size_t offset = 0;
    if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1) offset = 3;
    uint32_t window = 0xFFFFFF;
    const size_t end = length - 3;
    while (offset < end) {
        window = ((window << 8) | bytes[offset]) & 0xFFFFFF;
        ++offset;
        if (window == 0x000001) return static_cast<uint32_t>(offset - 3);
    }
    return 0;
}

bool begins_with_prefix(const uint8_t* bytes, size_t length) {
    if (length >= 3 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1) return true;
    return length >= 4 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1;
}

size_t remove_emulation_bytes(const uint8_t* src, size_t src_length, uint8_t* dst,
                              size_t dst_capacity) {
    size_t in = 0;
    size_t out = 0;
    while (in < src_length && out < dst_capacity) {
        if (src_length - in >= 4 && src[in] == 0 && src[in + 1] == 0 && src[in + 2] == 3) {
            dst[out++] = 0;
            if (out < dst_capacity) dst[out++] = 0;
            in += 3;
            continue;
        }
        dst[out++] = src[in++];
    }
    return out;
}

}  // namespace avs
