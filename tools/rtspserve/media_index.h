#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rtspserve {

// One picture of an AVS elementary stream: the sequence header, extension and
// user-data units before it, its picture header and its slices, as a range of
// the file.
struct PictureEntry {
    uint64_t offset = 0;
    uint32_t length = 0;
    bool random_access = false;  // an I picture (with the headers before it)
};

struct AvsIndex {
    std::vector<PictureEntry> pictures;
    double frame_rate = 25.0;              // from the first sequence header
    std::vector<uint8_t> sequence_header;  // the first header unit from its start-code value on
};

// Reads the file once in pieces. Nothing and a one-line reason in *error when
// it cannot be read or holds no sequence header or no picture.
std::optional<AvsIndex> IndexAvsFile(const std::string& path, std::string* error);

// One frame of an MPEG audio file.
struct AudioFrameEntry {
    uint64_t offset = 0;
    uint32_t length = 0;
};

struct Mp3Index {
    std::vector<AudioFrameEntry> frames;
    uint32_t sample_rate = 0;
    uint32_t samples_per_frame = 0;
};

// The length of the MPEG audio frame whose 4-byte header is at p, with its
// sample rate and samples per frame; 0 when p is not a valid header.
uint32_t MpegAudioFrameLength(const uint8_t* p, uint32_t* sample_rate, uint32_t* samples);

// Skips an ID3v2 tag and anything that is not a frame header; frames of
// another sample rate than the first are skipped too.
std::optional<Mp3Index> IndexMp3File(const std::string& path, std::string* error);

}  // namespace rtspserve
