#pragma once

#include "rtspstream/rtsp_stream.h"
#include "rtspstream/stream_formats.h"

namespace rtspstream {

// The "Audio" pin: one MPEG audio packet per sample.
class CRtspAudioStream final : public CRtspStream {
  public:
    CRtspAudioStream(HRESULT* phr, CTallowmere* filter);

    void SetFormat(const AudioFormatRecord& record, int64_t duration_seconds);
    int Deliver(const uint8_t* data, uint32_t length, int64_t time) override;
    // 100 while not buffering, else how full the buffer is in percent.
    LONGLONG FillPercentage() const;

  protected:
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT ChangeStart() override;

  private:
    AudioFormatRecord format_{};
    WORD format_tag_ = 0x50;
};

}  // namespace rtspstream
