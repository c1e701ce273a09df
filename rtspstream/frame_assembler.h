#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rtspstream {

// Rebuilds AVS pictures in the elementary-stream form (each unit behind
// 00 00 01) from the RTP forms: single units (types 0-23), aggregation (24)
// and fragmentation (28).
class FrameAssembler {
  public:
    // A picture larger than this is a broken sender; it is dropped whole.
    static constexpr size_t kMaxFrameBytes = 8 * 1024 * 1024;

    // Appends the units of one payload. False when the packet is to be
    // dropped unlooked-at (types 25-27 and 29-31, or an empty payload).
    bool Add(const uint8_t* payload, size_t length);

    const uint8_t* Data() const { return frame_.data(); }
    size_t Length() const { return frame_.size(); }
    // True when the picture being built outgrew kMaxFrameBytes.
    bool Overflowed() const { return overflowed_; }
    bool ExpectFragmentStart() const { return expect_fragment_start_; }

    // The picture was handed on (or dropped): start the next one, keep the memory.
    void NextFrame();
    // Frees the memory and waits for a new unit (after a teardown).
    void Release();

  private:
    void Append(const uint8_t* bytes, size_t length, bool with_prefix);

    std::vector<uint8_t> frame_;
    bool overflowed_ = false;
    bool expect_fragment_start_ = true;
};

}  // namespace rtspstream
