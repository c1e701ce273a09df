#include "avs/start_code.h"

#include <cstring>

namespace avs {

uint32_t find_start_code(const uint8_t* bytes, size_t length) {
    if (length < 4) return 0;
    // The window of the last three bytes starts empty, so only a prefix lying wholly at or
    // after `start` can match; bytes from offset length - 3 on are never examined.
    size_t start = (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1) ? 3 : 0;
    const size_t last = length - 4;  // last byte examined
    size_t j = start + 2;            // candidate position of the 01 byte
    while (j <= last) {
        const void* hit = std::memchr(bytes + j, 0x01, last - j + 1);
        if (hit == nullptr) return 0;
        j = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
        if (bytes[j - 1] == 0 && bytes[j - 2] == 0) return static_cast<uint32_t>(j - 2);
        ++j;
    }
    return 0;
}

bool BeginsWithPrefix(const uint8_t* bytes, size_t length) {
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
