#pragma once

#include "avs/sequence_header.h"
#include "rtspstream/rtsp_stream.h"

namespace rtspstream {

// The "Video" pin: the sequence header first, then one picture per sample.
class CRtspVideoStream final : public CRtspStream {
  public:
    CRtspVideoStream(HRESULT* phr, CTallowmere* filter);

    // Decodes the header (fixed bit positions) and sets the duration.
    void SetHeader(const uint8_t* header_bytes, int32_t header_length, int64_t duration_seconds);
    int Deliver(const uint8_t* data, uint32_t length, int64_t time) override;
    const avs::AvsSequenceHeader& header() const { return header_; }

  protected:
    // Not while the server refuses to seek this stream, nor on a live one.
    bool SeekingOffered() const override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT ChangeStart() override;

  private:
    avs::AvsSequenceHeader header_{};
    std::atomic<bool> send_header_first_{true};
    std::atomic<bool> next_not_sync_{false};
};

// True when 00 00 01 B3 starts at least 5 bytes before the end.
bool HoldsIntraPicture(const uint8_t* data, uint32_t length);

}  // namespace rtspstream
