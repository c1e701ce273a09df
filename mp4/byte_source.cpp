#include "mp4/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mp4/error.h"

namespace mp4 {

void read_exact_at(ByteSource& source, uint64_t position, void* buffer, size_t n) {
    if (n == 0) return;
    source.seek(position);
    if (source.read(buffer, n) != n) throw Mp4Error(kEndOfFileMessage);
}

std::vector<uint8_t> read_exact_at(ByteSource& source, uint64_t position, size_t n) {
    std::vector<uint8_t> bytes(n);
    read_exact_at(source, position, bytes.data(), n);
    return bytes;
}

FileByteSource::FileByteSource(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw Mp4Error("cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        ::close(fd_);
        throw Mp4Error("cannot read " + path + ": " + std::strerror(errno));
    }
    size_ = static_cast<uint64_t>(st.st_size);
}

FileByteSource::~FileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileByteSource::read(void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(position_ + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    position_ += done;
    return done;
}

size_t MemoryByteSource::read(void* buffer, size_t n) {
    if (n == 0 || position_ >= bytes_.size()) return 0;
    size_t count = static_cast<size_t>(std::min<uint64_t>(n, bytes_.size() - position_));
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

}  // namespace mp4
