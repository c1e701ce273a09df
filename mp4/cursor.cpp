#include "mp4/cursor.h"

#include "mp4/error.h"

namespace mp4 {

const uint8_t* Cursor::Take(size_t n) {
    if (n > Remaining()) throw Mp4Error("box '" + what_ + "' is too short for its contents");
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += n;
    return p;
}

uint8_t Cursor::U8() {
    return *Take(1);
}

uint16_t Cursor::U16() {
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t Cursor::U24() {
    const uint8_t* p = Take(3);
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

uint32_t Cursor::U32() {
    const uint8_t* p = Take(4);
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint64_t Cursor::U64() {
    uint64_t high = U32();
    return high << 32 | U32();
}

std::string Cursor::Fourcc() {
    const uint8_t* p = Take(4);
    return std::string(reinterpret_cast<const char*>(p), 4);
}

std::span<const uint8_t> Cursor::Bytes(size_t n) {
    const uint8_t* p = Take(n);
    return {p, n};
}

}  // namespace mp4
