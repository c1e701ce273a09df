// The audio graph on DirectShow: the file's source (AddSourceFilter), the sample grabber
// told to accept PCM audio, and a null renderer. The grabber's callback hands each sample
// to the sink on the graph's streaming thread while Run waits for completion.
#pragma once

#include <memory>

#include "mp3encoder/audio_source.h"

namespace quenby {

class DshowAudioGraph : public AudioGraph {
  public:
    DshowAudioGraph();
    ~DshowAudioGraph() override;

    GraphBuildResult Build(const std::string& path) override;
    PcmFormat ConnectedFormat() const override { return format_; }
    bool RemoveClock() override;
    bool RunToCompletion(PcmSampleSink& sink) override;

  private:
    struct Interfaces;
    std::unique_ptr<Interfaces> com_;
    PcmFormat format_;
};

}  // namespace quenby
