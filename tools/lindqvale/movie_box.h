// The moov box of a written container, built in memory from the tables the
// writer collected while it wrote the samples.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "tools/lindqvale/sample_source.h"

namespace lindqvale {

// What the moov box needs to know about one written track.
struct TrackTables {
    TrackDescription description;
    std::vector<uint32_t> sizes;
    std::vector<std::pair<uint32_t, uint32_t>> duration_runs;  // count, duration
    std::vector<uint32_t> sync_samples;
    // Runs of equal composition offsets (count, offset); empty when every offset is 0.
    std::vector<std::pair<uint32_t, int32_t>> composition_runs;
    std::vector<uint64_t> chunk_offsets;
    std::vector<uint32_t> chunk_sizes;  // samples per chunk
    uint64_t duration = 0;
};

// mvhd (milliseconds, the longest track rounded up) and one trak per track,
// numbered from 1. Chunk offsets beyond 32 bits make that track use co64.
Bytes MovieBox(const std::vector<TrackTables>& tracks);

}  // namespace lindqvale
