#include "mp4/cursor.h"

#include "mp4/error.h"

namespace mp4 {

const uint8_t* Cursor::take(size_t n) {
    if (n > remaining()) throw Mp4Error("box '" + what_ + "' is too short for its contents");
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += n;
    return p;
}

uint8_t Cursor::u8() {
    return *take(1);
}

uint16_t Cursor::u16() {
    const uint8_t* p = take(2);
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t Cursor::u24() {
    const uint8_t* p = take(3);
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

uint32_t Cursor::u32() {
    const uint8_t* p = take(4);
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint64_t Cursor::u64() {
    uint64_t high = u32();
    return high << 32 | u32();
}

std::string Cursor::fourcc() {
    const uint8_t* p = take(4);
    return std::string(reinterpret_cast<const char*>(p), 4);
}

std::span<const uint8_t> Cursor::bytes(size_t n) {
    const uint8_t* p = take(n);
    return {p, n};
}

}  // namespace mp4
