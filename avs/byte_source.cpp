#include "avs/byte_source.h"

#include <cstring>

namespace avs {

size_t FileByteSource::Read(uint8_t* dst, size_t n) {
    return n == 0 ? 0 : std::fread(dst, 1, n, file_);
}

// A read error ends the data as the end of the file does.
bool FileByteSource::AtEnd() const {
    return std::feof(file_) != 0 || std::ferror(file_) != 0;
}

size_t MemoryByteSource::Read(uint8_t* dst, size_t n) {
    size_t left = size_ - pos_;
    size_t take = n < left ? n : left;
    if (take > 0) std::memcpy(dst, data_ + pos_, take);
    pos_ += take;
    if (take < n) at_end_ = true;
    return take;
}

}  // namespace avs
