// The video track of a container written earlier, replayed sample by sample so
// that the container can be written again with an audio track beside it.
#pragma once

#include <memory>
#include <string>

#include "mp4/byte_source.h"
#include "mp4/movie_file.h"
#include "tools/lindqvale/sample_source.h"

namespace lindqvale {

class ContainerVideoSource : public SampleSource {
  public:
    // Throws LindqvaleError when the file is missing, no container, or has no
    // AVS video track.
    explicit ContainerVideoSource(const std::string& path);

    bool Next(Sample& out) override;
    TrackDescription Description() const override { return description_; }

  private:
    std::string path_;
    std::shared_ptr<mp4::ByteSource> source_;
    std::unique_ptr<mp4::MovieFile> movie_;
    const mp4::Track* track_ = nullptr;
    uint64_t next_sample_ = 1;
    uint64_t sample_count_ = 0;
    TrackDescription description_;
};

}  // namespace lindqvale
