// Where the unit reader gets its bytes: a C file stream or a span of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace avs {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes into dst; returns how many were read (0 at the end).
    virtual size_t Read(uint8_t* dst, size_t n) = 0;
    // True once a read has met the end of the data (as feof after a short fread) or, for a
    // file, a read error.
    virtual bool AtEnd() const = 0;
};

// Reads from an open FILE* (not owned). Give the stream a large buffer (setvbuf) to
// keep system calls few; rewinding the FILE* also clears its end state.
class FileByteSource final : public ByteSource {
  public:
    explicit FileByteSource(std::FILE* file) : file_(file) {}
    size_t Read(uint8_t* dst, size_t n) override;
    bool AtEnd() const override;
    std::FILE* File() const { return file_; }

  private:
    std::FILE* file_;
};

// Reads from a memory range (not owned).
class MemoryByteSource final : public ByteSource {
  public:
    MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Read(uint8_t* dst, size_t n) override;
    bool AtEnd() const override { return at_end_; }
    void Rewind() { pos_ = 0, at_end_ = false; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool at_end_ = false;
};

}  // namespace avs
