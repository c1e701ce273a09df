// The sample tables of an stbl box. Each table's entry count is checked
// against the bytes its box holds before anything is allocated.
#pragma once

#include <cstdint>
#include <vector>

#include "mp4/box.h"

namespace mp4 {

// stts: runs of samples with one duration each.
class TimeToSampleBox : public FullBox {
  public:
    struct Entry {
        uint32_t count;
        uint32_t delta;
    };
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::vector<Entry> entries;
};

// ctts: composition offsets; read, not used for timing.
class CompositionOffsetBox : public FullBox {
  public:
    struct Entry {
        uint32_t count;
        uint32_t offset;
    };
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::vector<Entry> entries;
};

// stsz: one size for all samples, or one size per sample.
class SampleSizeBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint32_t sample_size = 0;  // nonzero: every sample has this size
    uint32_t sample_count = 0;
    std::vector<uint32_t> sizes;  // filled only when sample_size is 0
};

// stsc: runs of chunks with the same number of samples and sample entry.
class SampleToChunkBox : public FullBox {
  public:
    struct Entry {
        uint32_t first_chunk;
        uint32_t samples_per_chunk;
        uint32_t description_index;
    };
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::vector<Entry> entries;
};

// stco and co64: file offset of each chunk.
class ChunkOffsetBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::vector<uint64_t> offsets;
};

// stss: numbers of the sync samples, ascending.
class SyncSampleBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::vector<uint32_t> samples;
};

}  // namespace mp4
