#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace harrowgate {

// MSB-first bit writer with the Exp-Golomb codes the AVS syntax uses.
class BitWriter {
  public:
    // count 0..32, low `count` bits of value. Inline for the common short codes: a call per
    // code was a tenth of the encoding time.
    void PutBits(uint32_t value, int count) {
        if (count <= 0 || count > 24) {
            PutLongBits(value, count);
            return;
        }
        // pending_ holds fewer than 8 bits, so up to 24 more fit in it at once.
        pending_ = (pending_ << count) | (value & (0xFFFFFFFFu >> (32 - count)));
        bit_count_ += count;
        while (bit_count_ >= 8) {
            bit_count_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(pending_ >> bit_count_));
        }
        pending_ &= (1u << bit_count_) - 1u;
    }
    void PutBit(bool bit) { PutBits(bit ? 1u : 0u, 1); }
    void PutUe(uint32_t value);              // unsigned Exp-Golomb, order 0
    void PutSe(int32_t value);               // signed Exp-Golomb
    void PutUeK(uint32_t value, int order);  // k-th order Exp-Golomb
    // Ends a unit: one stuffing 1 bit, then zero bits up to the byte boundary (a whole 0x80
    // byte when already aligned), so the next start code follows directly.
    void StuffToByte();
    // Appends a start-code prefix 00 00 01 and the code value; only valid when aligned.
    void PutStartCode(uint8_t value);
    // Appends every bit `other` holds, aligned or not.
    void Append(const BitWriter& other);

    bool ByteAligned() const { return bit_count_ == 0; }
    uint64_t BitPosition() const { return bytes_.size() * 8 + static_cast<uint64_t>(bit_count_); }
    // Bytes written so far; only whole bytes (call when aligned).
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> Take();
    void Clear();

  private:
    void PutLongBits(uint32_t value, int count);  // 25..32 bits, or a count out of range

    std::vector<uint8_t> bytes_;
    uint32_t pending_ = 0;  // bits not yet flushed, right-aligned
    int bit_count_ = 0;     // number of bits in pending_ (0..7)
};

// Lengths in bits of PutUe's, PutSe's and PutUeK's codes of `value`, for pricing without
// writing.
int UeLength(uint32_t value);
int SeLength(int32_t value);
inline int UeKLength(uint32_t value, int order) {
    // As many zeros as value + 2^order has bits past the first and past `order`, then those
    // bits.
    const uint64_t shifted = static_cast<uint64_t>(value) + (uint64_t{1} << order);
    return 2 * static_cast<int>(std::bit_width(shifted)) - 1 - order;
}

// True when the bytes hold a start-code prefix 00 00 01 (or 00 00 00, which could become one
// next to other bytes); such bytes inside a unit would cut it in two for every reader.
bool ContainsStartCodePrefix(const uint8_t* data, size_t size);

}  // namespace harrowgate
