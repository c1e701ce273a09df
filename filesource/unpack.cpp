#include "filesource/unpack.h"

#include <cstring>

namespace filesource {

namespace {
uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
}  // namespace

std::optional<size_t> unpacked_video_size(std::span<const uint8_t> stored) {
    const size_t size = stored.size();
    // Every unit must lie wholly inside the sample.
    size_t total = 0;
    for (size_t pos = 0; pos < size;) {
        const uint32_t length = size - pos < 4 ? 0 : be32(stored.data() + pos);
        if (length == 0 || length > size - pos - 4) return std::nullopt;
        total += size_t{length} + 2;
        pos += size_t{length} + 4;
    }
    return total;
}

void unpack_video_sample_into(std::span<const uint8_t> stored, uint8_t* dst) {
    const size_t size = stored.size();
    for (size_t pos = 0; pos < size;) {
        // The length is read before the prefix is written: `dst` may be the
        // stored bytes themselves (unpacking in place), so the body is moved,
        // not copied.
        const uint32_t length = be32(stored.data() + pos);
        dst[0] = 0;
        dst[1] = 0;
        dst[2] = 1;
        std::memmove(dst + 3, stored.data() + pos + 5, length - 1);
        dst += size_t{length} + 2;
        pos += size_t{length} + 4;
    }
}

std::optional<size_t> unpack_video_sample_in_place(std::span<uint8_t> bytes) {
    const std::optional<size_t> total = unpacked_video_size(bytes);
    if (total) unpack_video_sample_into(bytes, bytes.data());
    return total;
}

bool unpack_video_sample(std::span<const uint8_t> stored, std::vector<uint8_t>& out) {
    const std::optional<size_t> total = unpacked_video_size(stored);
    if (!total) {
        out.clear();
        return false;
    }
    // Resized without clearing first: memory and bytes kept from an earlier
    // sample are overwritten, not zeroed.
    out.resize(*total);
    unpack_video_sample_into(stored, out.data());
    return true;
}

}  // namespace filesource
