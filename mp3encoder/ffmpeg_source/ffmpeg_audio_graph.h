// The FFmpeg-backed source: decodes the first decodable audio stream of any file FFmpeg opens
// to 16-bit interleaved PCM and hands it to the sink sample by sample, with start times
// measured from the earliest start of any stream in the file (so audio that begins after the
// video carries that offset). It stands where the graph of source filter, grabber and null
// renderer will stand; RunToCompletion decodes on the calling thread.
#pragma once

#include <memory>

#include "audio_source.h"

namespace quenby {

class FfmpegAudioGraph : public AudioGraph {
  public:
    FfmpegAudioGraph();
    ~FfmpegAudioGraph() override;

    GraphBuildResult Build(const std::string& path) override;
    PcmFormat ConnectedFormat() const override;
    bool RemoveClock() override { return true; }
    bool RunToCompletion(PcmSampleSink& sink) override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Keeps FFmpeg's own diagnostics off the console: the front-end reads this program's output
// for percentages.
void SilenceFfmpegLog();

}  // namespace quenby
