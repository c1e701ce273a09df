#include "tools/harrowgate/bit_writer.h"

#include <bit>
#include <stdexcept>

namespace harrowgate {

void BitWriter::PutLongBits(uint32_t value, int count) {
    if (count < 0 || count > 32) throw std::invalid_argument("bit count out of range");
    if (count == 0) return;
    PutBits(value >> 16, count - 16);
    PutBits(value & 0xFFFFu, 16);
}

void BitWriter::PutUe(uint32_t value) {
    const uint64_t coded = static_cast<uint64_t>(value) + 1;
    int length = 0;
    while ((coded >> length) > 1) ++length;
    // coded has length+1 significant bits, after `length` zeros.
    if (2 * length + 1 <= 32) {
        PutBits(static_cast<uint32_t>(coded), 2 * length + 1);
        return;
    }
    PutBits(0, length);
    if (length + 1 > 32) {
        PutBits(static_cast<uint32_t>(coded >> 32), length + 1 - 32);
        PutBits(static_cast<uint32_t>(coded & 0xFFFFFFFFu), 32);
    } else {
        PutBits(static_cast<uint32_t>(coded), length + 1);
    }
}

void BitWriter::PutSe(int32_t value) {
    const int64_t v = value;
    PutUe(static_cast<uint32_t>(v > 0 ? 2 * v - 1 : -2 * v));
}

void BitWriter::PutUeK(uint32_t value, int order) {
    // The code is value + 2^order after as many zeros as that has bits past the first and
    // past `order`: one write when it fits.
    if (order >= 0 && order < 32) {
        const uint64_t shifted = static_cast<uint64_t>(value) + (uint64_t{1} << order);
        const int bits = static_cast<int>(std::bit_width(shifted));
        const int total = 2 * bits - 1 - order;
        if (total <= 32) {
            PutBits(static_cast<uint32_t>(shifted), total);
            return;
        }
    }
    PutUe(value >> order);
    if (order > 0) PutBits(value & ((1u << order) - 1u), order);
}

void BitWriter::StuffToByte() {
    PutBit(true);
    if (bit_count_ != 0) PutBits(0, 8 - bit_count_);
}

void BitWriter::PutStartCode(uint8_t value) {
    if (!ByteAligned()) throw std::logic_error("start code at an unaligned position");
    bytes_.insert(bytes_.end(), {0x00, 0x00, 0x01, value});
}

std::vector<uint8_t> BitWriter::Take() {
    if (!ByteAligned()) throw std::logic_error("taking bytes at an unaligned position");
    std::vector<uint8_t> out;
    out.swap(bytes_);
    return out;
}

void BitWriter::Clear() {
    bytes_.clear();
    pending_ = 0;
    bit_count_ = 0;
}

void BitWriter::Append(const BitWriter& other) {
    if (bit_count_ == 0) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    } else {
        for (uint8_t byte : other.bytes_) PutBits(byte, 8);
    }
    PutBits(other.pending_, other.bit_count_);
}

bool ContainsStartCodePrefix(const uint8_t* data, size_t size) {
    for (size_t i = 2; i < size; ++i)
        if (data[i - 2] == 0 && data[i - 1] == 0 && data[i] <= 1) return true;
    return false;
}

int UeLength(uint32_t value) {
    return UeKLength(value, 0);
}

int SeLength(int32_t value) {
    return UeLength(value > 0 ? 2u * static_cast<uint32_t>(value) - 1
                              : 2u * static_cast<uint32_t>(-static_cast<int64_t>(value)));
}

}  // namespace harrowgate
