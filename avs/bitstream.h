// MSB-first bit reader over a caller-owned byte array.
//
//   Bitstream bs(bytes, length_in_bits);
//   uint32_t v = bs.get_bits(5);     // throws BitstreamError on overrun / n > 32
//   uint32_t code = bs.read_ue();    // unsigned Exp-Golomb
//
// Every read is bounds-checked against the bit count given to init(); a read
// past the end throws BitstreamError (kind PastEnd) and leaves the position unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

namespace avs {

// Thrown from get_bits and everything built on it; caught by the avs parsers, which turn
// it into their result codes, so it does not leave avs/.
class BitstreamError : public std::exception {
  public:
    enum class Kind {
        kTooManyBits,  // more than 32 bits requested in one read
        kPastEnd,      // the read runs past the last bit of the buffer
    };
    explicit BitstreamError(Kind kind) : kind_(kind) {}
    Kind ErrorKind() const noexcept { return kind_; }
    const char* what() const noexcept override;

  private:
    Kind kind_;
};

class Bitstream {
  public:
    Bitstream() = default;
    Bitstream(const uint8_t* buffer, uint32_t length_bits) { Init(buffer, length_bits); }

    void Init(const uint8_t* buffer, uint32_t length_bits);

    // 0 <= n <= 32; n == 0 returns 0.
    uint32_t get_bits(uint32_t n);
    // As get_bits, but the position is restored afterwards.
    uint32_t PeekBits(uint32_t n);
    // set = true saves the position, false restores the saved one.
    void Bookmark(bool set);
    uint32_t BitsRemain() const { return remain_; }
    // Unsigned Exp-Golomb code.
    uint32_t read_ue();

  private:
    const uint8_t* ptr_ = nullptr;  // byte holding the next bit
    uint32_t bit_offset_ = 0;       // 0..7, bits already used of *ptr_
    uint32_t remain_ = 0;

    const uint8_t* saved_ptr_ = nullptr;
    uint32_t saved_bit_offset_ = 0;
    uint32_t saved_remain_ = 0;
};

}  // namespace avs
