#include "mp4/read_ahead_source.h"

#include <algorithm>
#include <cstring>

namespace mp4 {

ReadAheadSource::ReadAheadSource(std::shared_ptr<ByteSource> inner, size_t window)
    : inner_(std::move(inner)),
      size_(inner_->Size()),
      window_(new uint8_t[window]),
      window_size_(window) {}

size_t ReadAheadSource::Read(void* buffer, size_t n) {
    if (n == 0) return 0;
    // Large reads skip the window: copying them through it would cost a second copy of
    // every byte, while their system call is already paid for by their size.
    if (n >= window_size_ / 16) {
        if (position_ >= size_) return 0;
        inner_->Seek(position_);
        const size_t got =
            inner_->Read(buffer, static_cast<size_t>(std::min<uint64_t>(n, size_ - position_)));
        position_ += got;
        return got;
    }
    const bool inside =
        position_ >= window_start_ && position_ + n <= window_start_ + window_filled_;
    if (!inside) {
        window_start_ = position_;
        window_filled_ = 0;
        if (position_ < size_) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(window_size_, size_ - position_));
            inner_->Seek(position_);
            window_filled_ = inner_->Read(window_.get(), want);
        }
    }
    const uint64_t offset = position_ - window_start_;
    const size_t got = offset >= window_filled_
                           ? 0
                           : std::min<size_t>(n, window_filled_ - static_cast<size_t>(offset));
    if (got) std::memcpy(buffer, window_.get() + offset, got);
    position_ += got;
    return got;
}

}  // namespace mp4
