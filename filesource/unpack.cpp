#include "filesource/unpack.h"

#include <cstring>

namespace filesource {

namespace {
uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
}  // namespace

bool unpack_video_sample(std::span<const uint8_t> stored, std::vector<uint8_t>& out) {
    const size_t size = stored.size();
    // Size pass: every unit must lie wholly inside the sample.
    size_t total = 0;
    for (size_t pos = 0; pos < size;) {
        const uint32_t length = size - pos < 4 ? 0 : be32(stored.data() + pos);
        if (length == 0 || length > size - pos - 4) {
            out.clear();
            return false;
        }
        total += size_t{length} + 2;
        pos += size_t{length} + 4;
    }
    // Resized without clearing first: memory and bytes kept from an earlier
    // sample are overwritten, not zeroed.
    out.resize(total);
    uint8_t* dst = out.data();
    for (size_t pos = 0; pos < size;) {
        const uint32_t length = be32(stored.data() + pos);
        dst[0] = 0;
        dst[1] = 0;
        dst[2] = 1;
        std::memcpy(dst + 3, stored.data() + pos + 5, length - 1);
        dst += size_t{length} + 2;
        pos += size_t{length} + 4;
    }
    return true;
}

}  // namespace filesource
