// Bounds-checked big-endian reading of one box payload held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace mp4 {

class Cursor {
  public:
    // `what` names the box in error messages.
    Cursor(std::span<const uint8_t> bytes, std::string what)
        : bytes_(bytes), what_(std::move(what)) {}

    size_t remaining() const { return bytes_.size() - pos_; }
    size_t position() const { return pos_; }
    const std::string& what() const { return what_; }

    uint8_t u8();
    uint16_t u16();
    uint32_t u24();
    uint32_t u32();
    uint64_t u64();
    std::string fourcc();
    // The next n bytes, without copying; they stay valid while the payload does.
    std::span<const uint8_t> bytes(size_t n);
    void skip(size_t n) { (void)bytes(n); }
    // The next n bytes as a cursor of their own.
    Cursor sub(size_t n, std::string what) { return Cursor(bytes(n), std::move(what)); }

  private:
    const uint8_t* take(size_t n);

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    std::string what_;
};

}  // namespace mp4
