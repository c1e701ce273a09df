// Big-endian box building in memory, with nested boxes whose sizes are
// filled in when they are closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lindqvale {

using Bytes = std::vector<uint8_t>;

class BoxWriter {
  public:
    void u8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) {
        u8(v >> 8);
        u8(v);
    }
    void u24(uint32_t v) {
        u8(v >> 16);
        u16(v);
    }
    void u32(uint32_t v) {
        u16(v >> 16);
        u16(v);
    }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v >> 32));
        u32(static_cast<uint32_t>(v));
    }
    void fourcc(const char* s) { bytes_.insert(bytes_.end(), s, s + 4); }
    void bytes(const Bytes& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    void bytes(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }

    // Opens a box; returns the handle close() needs.
    size_t open(const char* type) {
        size_t at = bytes_.size();
        u32(0);
        fourcc(type);
        return at;
    }
    size_t open_full(const char* type, uint8_t version, uint32_t flags) {
        size_t at = open(type);
        u8(version);
        u24(flags);
        return at;
    }
    void close(size_t at) {
        const uint32_t size = static_cast<uint32_t>(bytes_.size() - at);
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }

    const Bytes& data() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

}  // namespace lindqvale
