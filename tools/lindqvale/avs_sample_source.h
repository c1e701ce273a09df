// Cuts an AVS1-P2 elementary stream into container samples: one picture per
// sample, with the sequence header, extension and user-data units that stand
// before it, each unit as a 32-bit length, a unit-header byte and the body.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "avs/byte_source.h"
#include "avs/sequence_header.h"
#include "avs/unit_reader.h"
#include "tools/lindqvale/sample_source.h"

namespace lindqvale {

// Time scale and per-picture duration for a frame_rate_code, exact for every
// rate: 90 kHz for whole rates, the numerator of n/1001 rates otherwise.
struct VideoTiming {
    uint32_t timescale;
    uint32_t duration;
};
VideoTiming TimingForFrameRateCode(int code);

class AvsSampleSource : public SampleSource {
  public:
    // Throws LindqvaleError when the file cannot be opened.
    explicit AvsSampleSource(const std::string& path);
    ~AvsSampleSource() override;

    bool Next(Sample& out) override;
    TrackDescription Description() const override;

    uint64_t SampleCount() const { return samples_; }

  private:
    // Appends the unit in container form.
    static void AppendUnit(Bytes& to, const uint8_t* unit, uint32_t length);
    void TakeSequenceHeader(const uint8_t* unit, uint32_t length);

    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<avs::FileByteSource> bytes_;
    std::unique_ptr<avs::AvsUnitReader> reader_;

    Bytes pending_;  // units after the last slice, waiting for the next picture
    Sample current_;
    bool have_current_ = false;
    bool after_slice_ = false;
    bool first_unit_ = true;
    bool finished_ = false;

    bool have_header_ = false;
    avs::AvsSequenceHeader header_;
    Bytes header_body_;  // first sequence header unit from its start-code value on
    VideoTiming timing_{};
    uint64_t samples_ = 0;
    uint64_t total_bytes_ = 0;
    // Display order from the pictures' picture_distance (display position modulo 256).
    uint64_t pictures_ = 0;        // picture headers seen
    int64_t display_ = 0;          // display position of the last picture
    int64_t latest_display_ = -1;  // the latest display position so far
    int last_distance_ = -1;       // its picture_distance
};

}  // namespace lindqvale
