#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace harrowgate_test {

// A plain MSB-first reader to check what the writer produced.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit BitReader(const std::vector<uint8_t>& bytes) : BitReader(bytes.data(), bytes.size()) {}

    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= size_ * 8) throw std::out_of_range("read past the end");
            const int bit = (data_[position_ / 8] >> (7 - position_ % 8)) & 1;
            value = (value << 1) | static_cast<uint32_t>(bit);
            ++position_;
        }
        return value;
    }
    uint32_t Ue() {
        int zeros = 0;
        while (Bits(1) == 0) ++zeros;
        return (1u << zeros) - 1u + Bits(zeros);
    }
    int32_t Se() {
        const uint32_t k = Ue();
        return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
    }
    uint32_t UeK(int order) { return (Ue() << order) + Bits(order); }
    size_t Position() const { return position_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace harrowgate_test
