// Cuts an AVS1-P2 elementary stream into start-code units, reading its source in pieces
// of 256 KB or more (so a FILE* source needs no large buffer of its own).
//
//   avs::FileByteSource src(file);            // or MemoryByteSource(bytes, size)
//   avs::AvsUnitReader reader(src);
//   while (avs::read_next_unit(reader)) use(reader.data(), reader.unit_length());
//
// A unit runs from one 00 00 01 prefix up to the next one (prefix and start-code value
// byte included). Bytes before the first prefix found in the first buffer load are
// dropped. The last three bytes of the data are never searched, so a prefix whose 01
// byte lies among them stays in the last unit; a prefix right at a unit's byte 4 (an empty
// unit, such as 00 00 01 B1 00 00 01 B0) is not split off, so the two form one unit; a
// 00 00 00 01 prefix leaves its first zero at the end of the unit before. The logical
// buffer grows in 16384-byte steps until one unit fits and never shrinks (until reset()).
// data() is valid until the next call of next(), reset() or set_source().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "avs/byte_source.h"

namespace avs {

class AvsUnitReader {
  public:
    static constexpr uint32_t kGrowStep = 0x4000;
    // Larger units are cut at this size rather than growing the buffer without end (the
    // rest follows as the next unit, marked by continues_unit(); the cut keeps a prefix
    // whole, so the pieces joined are the units an uncut read gives). At least kGrowStep.
    static constexpr uint32_t kDefaultMaxCapacity = 1u << 30;

    explicit AvsUnitReader(ByteSource& source, uint32_t max_capacity = kDefaultMaxCapacity)
        : source_(&source), max_capacity_(max_capacity) {}

    // Reads the next unit; true when one is available at data() with unit_length()
    // bytes, false when the source holds no further bytes.
    bool Next();

    const uint8_t* Data() const { return storage_.get() + head_; }
    uint32_t UnitLength() const { return unit_length_; }
    uint32_t Filled() const { return filled_; }
    uint32_t Capacity() const { return capacity_; }
    // True when the current unit is the rest of a unit cut at the size cap rather than a
    // unit of its own.
    bool ContinuesUnit() const { return continuation_; }

    // Keeps the bytes from the current unit on readable through the following units until
    // release(), so that a caller can gather consecutive units without copying them:
    // retained() then holds retained_length() bytes, from the unit current at retain() up
    // to the start of the current unit (or to the end of the data after next() returned
    // false). Units are consecutive in the source, except that bytes in front of the first
    // prefix are dropped.
    void Retain();
    void Release();
    const uint8_t* Retained() const { return storage_.get() + retain_pos_; }
    size_t RetainedLength() const { return retaining_ ? head_ - retain_pos_ : 0; }

    // Back to the initial state (lengths 0, buffer freed); the caller rewinds the source.
    void Reset();
    // Binds another source and resets.
    void SetSource(ByteSource& source) {
        source_ = &source;
        Reset();
    }

  private:
    bool Refill(uint32_t n);
    size_t Take(size_t want);
    void EnsureSpace(size_t more);

    ByteSource* source_;
    uint32_t max_capacity_;
    // storage_[head_, head_ + filled_) is the window data()[0, filled); the ahead_ bytes
    // after it are read from the source but not yet part of the window.
    // Not zeroed when allocated: only the bytes read into it are ever looked at, and
    // clearing megabytes per reader dominated short inputs.
    std::unique_ptr<uint8_t[]> storage_;
    size_t storage_size_ = 0;
    size_t head_ = 0;
    size_t ahead_ = 0;
    uint32_t unit_length_ = 0;
    uint32_t filled_ = 0;
    uint32_t capacity_ = 0;
    bool continues_cut_unit_ = false;
    bool continuation_ = false;
    bool retaining_ = false;
    size_t retain_pos_ = 0;  // storage offset of the first retained byte
};

inline bool read_next_unit(AvsUnitReader& reader) {
    return reader.Next();
}

}  // namespace avs
