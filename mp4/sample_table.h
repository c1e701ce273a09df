// Sample lookup over the tables of one stbl box: sample number -> position,
// size, time, sync flag and sample entry.
#pragma once

#include <cstdint>
#include <vector>

#include "mp4/box.h"
#include "mp4/sample_table_boxes.h"

namespace mp4 {

struct SampleInfo {
    uint64_t offset = 0;  // file offset of the first byte
    uint32_t size = 0;
    uint64_t start = 0;     // decoding time in the track's time scale
    uint32_t duration = 0;  // in the track's time scale
    bool sync = true;
    uint32_t description_index = 0;  // 1-based index into stsd
};

class SampleTable {
  public:
    // Throws Mp4Error when a mandatory table is missing or the chunk runs are
    // not in order.
    explicit SampleTable(const Box& stbl);

    uint32_t SampleCount() const { return stsz_->sample_count; }
    // Sample numbers count from 1. Throws for a number out of range or one the
    // tables do not cover. The offset is not checked against the file here.
    SampleInfo Lookup(uint64_t number) const;
    // Throws Mp4Error when the tables claim more than a file of `file_size`
    // bytes can hold: samples whose sizes add up to more than the file, or a
    // chunk that starts past its end. Costs one pass over the chunk offsets;
    // the sizes were summed when the table was built.
    void CheckFits(uint64_t file_size) const;

  private:
    struct TimeRun {
        uint64_t first_sample;
        uint64_t start;
        uint32_t count;
        uint32_t delta;
    };
    struct ChunkRun {
        uint64_t first_sample;
        uint32_t first_chunk;
        uint32_t samples_per_chunk;
        uint32_t description_index;
    };

    uint32_t SizeOf(uint64_t number) const;
    uint64_t BytesBefore(uint64_t first, uint64_t number) const;

    const SampleSizeBox* stsz_ = nullptr;
    const ChunkOffsetBox* chunk_offsets_ = nullptr;
    const SyncSampleBox* stss_ = nullptr;
    std::vector<uint64_t> size_prefix_;  // [i] = bytes of samples 1..i
    std::vector<TimeRun> time_runs_;
    std::vector<ChunkRun> chunk_runs_;
};

}  // namespace mp4
