// The byte source under every reader: a file, memory, or a filter's upstream pin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "files/files.h"

namespace mp4 {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Total length in bytes.
    virtual uint64_t Size() = 0;
    // Reads up to n bytes at the current position and advances it by what was
    // delivered. Fewer than n bytes means the end of the data was reached.
    virtual size_t Read(void* buffer, size_t n) = 0;
    // Sets the 64-bit read position.
    virtual void Seek(uint64_t position) = 0;
};

// Reads exactly n bytes at the given position or throws Mp4Error with
// kEndOfFileMessage.
void ReadExactAt(ByteSource& source, uint64_t position, void* buffer, size_t n);
std::vector<uint8_t> ReadExactAt(ByteSource& source, uint64_t position, size_t n);

// A read-only file, read at explicit positions so the position is our own.
class FileByteSource : public ByteSource {
  public:
    // Throws Mp4Error when the file cannot be opened.
    explicit FileByteSource(const std::string& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    uint64_t Size() override;
    size_t Read(void* buffer, size_t n) override;
    void Seek(uint64_t position) override { position_ = position; }

  private:
    std::unique_ptr<avs::files::PositionalFile> file_;
    uint64_t position_ = 0;
};

// Bytes held in memory (tests, fuzzing). The bytes are not copied.
class MemoryByteSource : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint64_t Size() override { return bytes_.size(); }
    size_t Read(void* buffer, size_t n) override;
    void Seek(uint64_t position) override { position_ = position; }

  private:
    std::span<const uint8_t> bytes_;
    uint64_t position_ = 0;
};

}  // namespace mp4
