// Cuts an MP3 stream into its frames, one container sample each. A leading
// ID3v2 tag and a trailing ID3v1 tag are skipped; bytes that are no frame are
// skipped with a warning.
#pragma once

#include <cstdio>
#include <string>

#include "mux/mpeg_audio_header.h"
#include "tools/lindqvale/sample_source.h"

namespace lindqvale {

class Mp3SampleSource : public SampleSource {
  public:
    // Opens the file and locks on to the first frame. Throws LindqvaleError when
    // the file cannot be opened, holds no MPEG audio frame or is not layer III.
    explicit Mp3SampleSource(const std::string& path);
    ~Mp3SampleSource() override;

    bool Next(Sample& out) override;
    TrackDescription Description() const override;

    uint32_t SampleRate() const { return sample_rate_; }
    uint64_t DroppedBytes() const { return dropped_; }

  private:
    // Makes at least n bytes available from pos_ when the file has them.
    bool Fill(size_t n);
    size_t Available() const { return end_ - pos_; }
    // A plausible layer III header of this stream's version and rate at pos_.
    bool FrameAt(size_t at, uint32_t& length) const;
    void SkipId3v2();
    // Whether two more frames like `first` follow the one at pos_.
    bool FramesFollow(const mux::MpegAudioHeader& first);

    std::string path_;
    std::FILE* file_ = nullptr;
    Bytes buffer_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false;

    int version_ = -1;
    uint32_t sample_rate_ = 0;
    uint32_t samples_per_frame_ = 0;
    uint32_t channels_ = 2;
    uint64_t frames_ = 0;
    uint64_t total_bytes_ = 0;
    uint32_t max_frame_ = 0;
    uint32_t max_bitrate_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace lindqvale
