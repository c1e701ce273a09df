#include "avs/bitstream.h"

#include <bit>

namespace avs {

const char* BitstreamError::what() const noexcept {
    return kind_ == Kind::kTooManyBits ? "more than 32 bits in one read"
                                       : "read past the end of the bits";
}

void Bitstream::Init(const uint8_t* buffer, uint32_t length_bits) {
    ptr_ = buffer;
    bit_offset_ = 0;
    remain_ = buffer ? length_bits : 0;
    saved_ptr_ = ptr_;
    saved_bit_offset_ = 0;
    saved_remain_ = remain_;
}

uint32_t Bitstream::get_bits(uint32_t n) {
    if (n > 32) throw BitstreamError(BitstreamError::Kind::kTooManyBits);
    if (n > remain_) throw BitstreamError(BitstreamError::Kind::kPastEnd);
    uint64_t value = 0;
    uint32_t left = n;
    while (left > 0) {
        uint32_t avail = 8 - bit_offset_;
        uint32_t take = left < avail ? left : avail;
        uint32_t bits = (*ptr_ >> (avail - take)) & ((1u << take) - 1);
        value = (value << take) | bits;
        left -= take;
        bit_offset_ += take;
        if (bit_offset_ == 8) {
            bit_offset_ = 0;
            ++ptr_;
        }
    }
    remain_ -= n;
    return static_cast<uint32_t>(value);
}

void Bitstream::Bookmark(bool set) {
    if (set) {
        saved_ptr_ = ptr_;
        saved_bit_offset_ = bit_offset_;
        saved_remain_ = remain_;
    } else {
        ptr_ = saved_ptr_;
        bit_offset_ = saved_bit_offset_;
        remain_ = saved_remain_;
    }
}

uint32_t Bitstream::PeekBits(uint32_t n) {
    Bookmark(true);
    uint32_t value;
    try {
        value = get_bits(n);
    } catch (const BitstreamError&) {
        Bookmark(false);
        throw;
    }
    Bookmark(false);
    return value;
}

uint32_t Bitstream::read_ue() {
    uint32_t zeros = 0;
    for (;;) {
        uint32_t n = remain_ < 8 ? remain_ : 8;
        if (n == 0)
            throw BitstreamError(
                BitstreamError::Kind::kPastEnd);  // no 1 bit left to end the prefix
        uint32_t v = PeekBits(n);
        if (v == 0) {
            zeros += n;
            get_bits(n);
            continue;
        }
        uint32_t lead = n - static_cast<uint32_t>(std::bit_width(v));
        zeros += lead;
        get_bits(lead);
        break;
    }
    return get_bits(zeros + 1) - 1;
}

}  // namespace avs
