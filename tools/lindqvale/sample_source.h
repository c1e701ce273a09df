// What the container writer pulls its tracks from, one sample at a time.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tools/lindqvale/box_writer.h"

namespace lindqvale {

// Bad input or a failed write: one line for the user.
class LindqvaleError : public std::runtime_error {
  public:
    explicit LindqvaleError(const std::string& what) : std::runtime_error(what) {}
};

struct Sample {
    Bytes bytes;
    uint32_t duration = 0;  // in the track's time scale
    bool sync = true;
    // Presentation time minus decoding time, in the track's time scale: pictures coded
    // ahead of B pictures are shown after them.
    int32_t composition_offset = 0;
};

// How the track is described in the moov box; asked for once every sample has
// been pulled, so that totals can go into it.
struct TrackDescription {
    const char* handler = "vide";  // "vide" or "soun"
    const char* handler_name = "";
    uint32_t timescale = 0;
    Bytes sample_entry;  // the whole box for stsd
    uint16_t width = 0, height = 0;
    bool write_stss = false;  // false: every sample is a sync sample
};

class SampleSource {
  public:
    virtual ~SampleSource() = default;
    // The next sample; false after the last one. Throws LindqvaleError.
    virtual bool Next(Sample& out) = 0;
    virtual TrackDescription Description() const = 0;
};

}  // namespace lindqvale
