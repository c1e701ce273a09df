// A byte source that reads its inner source in large windows, so that the many
// small reads of box headers and samples cost one inner read per window
// instead of one each (an upstream reader call or a system call).
#pragma once

#include <memory>

#include "mp4/byte_source.h"

namespace mp4 {

class ReadAheadSource : public ByteSource {
  public:
    static constexpr size_t kDefaultWindow = 1 << 20;

    explicit ReadAheadSource(std::shared_ptr<ByteSource> inner, size_t window = kDefaultWindow);

    uint64_t Size() override { return size_; }
    // Small reads are served from the window, refilled at the read position
    // when needed; reads of a sixteenth of a window (64 KiB by default) or more go
    // straight through. The inner source is never asked for bytes past its size.
    size_t Read(void* buffer, size_t n) override;
    void Seek(uint64_t position) override { position_ = position; }

  private:
    std::shared_ptr<ByteSource> inner_;
    uint64_t size_;
    uint64_t position_ = 0;
    // Not zero-filled: only bytes the inner source delivered are ever served.
    std::unique_ptr<uint8_t[]> window_;
    size_t window_size_;
    uint64_t window_start_ = 0;
    size_t window_filled_ = 0;
};

}  // namespace mp4
