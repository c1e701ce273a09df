// The audio output stream: the MP3 samples unchanged, from the first sync
// sample after a start; seeking follows the video stream when there is one.
#pragma once

#include "dshow/mmreg.h"
#include "filesource/branwick_stream.h"

namespace filesource {

// Bytes per delivery buffer of the audio stream.
inline constexpr LONG kAudioBufferSize = 0x50000;

class CBranwickAudioStream : public CBranwickStream {
  public:
    CBranwickAudioStream(HRESULT* phr, CBranwickSource* filter);

    // Takes the first "soun" track of the container; cannot fail.
    int SetupTrack(AvsContainer* container);

    HRESULT GetMediaType(CMediaType* type) override;
    HRESULT CheckMediaType(const CMediaType* type) override;
    LONG SampleBufferSize() const override { return kAudioBufferSize; }
    HRESULT Active() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT ChangeStart() override;

  private:
    // The tag of the offered type (CheckMediaType); channels are always
    // announced as two, whatever the stream holds.
    WAVEFORMATEX wave_format_{};
};

}  // namespace filesource
