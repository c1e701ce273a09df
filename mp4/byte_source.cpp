#include "mp4/byte_source.h"

#include <algorithm>
#include <cstring>

#include "mp4/error.h"

namespace mp4 {

void ReadExactAt(ByteSource& source, uint64_t position, void* buffer, size_t n) {
    if (n == 0) return;
    source.Seek(position);
    if (source.Read(buffer, n) != n) throw Mp4Error(kEndOfFileMessage);
}

std::vector<uint8_t> ReadExactAt(ByteSource& source, uint64_t position, size_t n) {
    std::vector<uint8_t> bytes(n);
    ReadExactAt(source, position, bytes.data(), n);
    return bytes;
}

FileByteSource::FileByteSource(const std::string& path) {
    std::string error;
    file_ = avs::files::PositionalFile::Open(path, error);
    if (!file_) throw Mp4Error("cannot open " + path + ": " + error);
}

FileByteSource::~FileByteSource() = default;

uint64_t FileByteSource::Size() {
    return file_->Size();
}

size_t FileByteSource::Read(void* buffer, size_t n) {
    const size_t done = file_->ReadAt(position_, buffer, n);
    position_ += done;
    return done;
}

size_t MemoryByteSource::Read(void* buffer, size_t n) {
    if (n == 0 || position_ >= bytes_.size()) return 0;
    size_t count = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

}  // namespace mp4
