#include "rtspstream/frame_assembler.h"

#include "rtspstream/trace.h"

namespace rtspstream {

namespace {
constexpr uint8_t kPrefix[3] = {0x00, 0x00, 0x01};
constexpr uint8_t kAggregation = 24;
constexpr uint8_t kFragmentation = 28;
constexpr uint8_t kFragmentEnd = 0x40;
}  // namespace

void FrameAssembler::Append(const uint8_t* bytes, size_t length, bool with_prefix) {
    size_t needed = frame_.size() + length + (with_prefix ? 3 : 0);
    if (overflowed_ || needed > kMaxFrameBytes) {
        overflowed_ = true;
        return;
    }
    if (needed > frame_.capacity()) {
        // Grow geometrically: fragments of a large picture would otherwise
        // copy it once per packet.
        size_t capacity = frame_.capacity() * 2;
        if (capacity < needed) capacity = needed;
        if (capacity > kMaxFrameBytes) capacity = kMaxFrameBytes;
        frame_.reserve(capacity);
        Trace("resize deliver buf %u", static_cast<unsigned>(capacity));
    }
    if (with_prefix) frame_.insert(frame_.end(), kPrefix, kPrefix + 3);
    frame_.insert(frame_.end(), bytes, bytes + length);
}

bool FrameAssembler::Add(const uint8_t* p, size_t n) {
    if (n == 0) return false;
    uint8_t type = p[0] & 0x1F;
    if (type <= 23) {
        Append(p + 1, n - 1, true);
        return true;
    }
    if (type == kAggregation) {
        size_t at = 1;
        while (n - at >= 2) {
            size_t size = (size_t(p[at]) << 8) | p[at + 1];
            at += 2;
            // A unit that runs past the payload ends the walk; nothing of it is kept.
            if (size > n - at) break;
            if (size > 0) Append(p + at + 1, size - 1, true);
            at += size;
        }
        return true;
    }
    if (type == kFragmentation) {
        if (n < 2) return false;
        if (expect_fragment_start_) {
            expect_fragment_start_ = false;
            Append(p + 2, n - 2, true);
        } else {
            Append(p + 2, n - 2, false);
            if (p[1] & kFragmentEnd) expect_fragment_start_ = true;
        }
        return true;
    }
    return false;
}

void FrameAssembler::NextFrame() {
    frame_.clear();
    overflowed_ = false;
}

void FrameAssembler::Release() {
    std::vector<uint8_t>().swap(frame_);
    overflowed_ = false;
    expect_fragment_start_ = true;
}

}  // namespace rtspstream
