// The video output stream: AVS video in start-code form, the sequence header
// first, then one picture per sample; seeking lands on key-frame samples and
// moves the audio stream along.
#pragma once

#include "avs/sequence_header.h"
#include "filesource/branwick_stream.h"

namespace filesource {

class CBranwickVideoStream : public CBranwickStream {
  public:
    CBranwickVideoStream(HRESULT* phr, CBranwickSource* filter);

    // Takes the first "vide" track of the container: 0, or -1 when its sample
    // entry is not an AVS one or its first sample cannot be read.
    int SetupTrack(AvsContainer* container);

    const avs::AvsSequenceHeader& header() const { return header_; }

    HRESULT GetMediaType(CMediaType* type) override;
    HRESULT CheckMediaType(const CMediaType* type) override;
    // Four bytes per pixel of the coded size: more than any coded picture takes.
    LONG SampleBufferSize() const override {
        return header_.horizontal_size * header_.vertical_size * 4;
    }
    HRESULT Active() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT ChangeStart() override;

  protected:
    void OnReposition() override { send_header_first_ = true; }

  private:
    avs::AvsSequenceHeader header_;
    std::atomic<bool> send_header_first_{true};
};

}  // namespace filesource
