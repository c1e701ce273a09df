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

    size_t Remaining() const { return bytes_.size() - pos_; }
    size_t Position() const { return pos_; }
    const std::string& What() const { return what_; }

    uint8_t U8();
    uint16_t U16();
    uint32_t U24();
    uint32_t U32();
    uint64_t U64();
    std::string Fourcc();
    // The next n bytes, without copying; they stay valid while the payload does.
    std::span<const uint8_t> Bytes(size_t n);
    void Skip(size_t n) { (void)Bytes(n); }
    // The next n bytes as a cursor of their own.
    Cursor Sub(size_t n, std::string what) { return Cursor(Bytes(n), std::move(what)); }

  private:
    const uint8_t* Take(size_t n);

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    std::string what_;
};

}  // namespace mp4
