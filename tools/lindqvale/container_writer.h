// Writes an AVS media container: ftyp, one mdat with the tracks' samples
// interleaved in chunks of about a second, then moov. The file is written
// under a temporary name beside the target and renamed over it only when
// complete, so a failure never leaves a broken container behind. A target that
// exists and is not a regular file (a FIFO, a device) is written in place.
#pragma once

#include <string>
#include <vector>

#include "tools/lindqvale/sample_source.h"

namespace lindqvale {

struct WrittenTrack {
    uint64_t samples = 0;
    uint64_t duration = 0;  // in the track's time scale
    uint32_t timescale = 0;
};

// Pulls every sample of every source (video first) and writes the container.
// Throws LindqvaleError; the target is then left as it was.
std::vector<WrittenTrack> WriteContainer(const std::string& path,
                                         const std::vector<SampleSource*>& sources);

// The 24-byte ftyp every container starts with: major brand "avs2", minor 0,
// compatible "avs2" and "isom".
Bytes FileTypeBox();

}  // namespace lindqvale
