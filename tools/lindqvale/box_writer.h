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
    void U8(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        U8(v >> 8);
        U8(v);
    }
    void U24(uint32_t v) {
        U8(v >> 16);
        U16(v);
    }
    void U32(uint32_t v) {
        U16(v >> 16);
        U16(v);
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Fourcc(const char* s) { bytes_.insert(bytes_.end(), s, s + 4); }
    void Append(const Bytes& b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    void Append(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
    void Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }

    // Opens a box; returns the handle close() needs.
    size_t Open(const char* type) {
        size_t at = bytes_.size();
        U32(0);
        Fourcc(type);
        return at;
    }
    size_t OpenFull(const char* type, uint8_t version, uint32_t flags) {
        size_t at = Open(type);
        U8(version);
        U24(flags);
        return at;
    }
    void Close(size_t at) {
        const uint32_t size = static_cast<uint32_t>(bytes_.size() - at);
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }

    const Bytes& Data() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

}  // namespace lindqvale
