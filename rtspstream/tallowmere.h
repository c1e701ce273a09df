// CTallowmere: the source filter that plays an AVS stream (and MPEG audio)
// from an RTSP server, RTP carried in the RTSP connection.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "dshow/streams.h"
#include "rtspstream/rtsp_receive.h"
#include "rtspstream/sample_position.h"

namespace rtspstream {

class CRtspVideoStream;
class CRtspAudioStream;

class CTallowmere final : public CSource,
                          public FrameSink,
                          public IFileSourceFilter,
                          public IAMFilterMiscFlags,
                          public IAMOpenProgress,
                          public CTitleOnlyMediaContent,
                          public ISamplePosition {
  public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~CTallowmere() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFileSourceFilter
    STDMETHODIMP Load(LPCOLESTR address, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* pmt) override;
    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }
    // IAMOpenProgress
    STDMETHODIMP QueryProgress(LONGLONG* total, LONGLONG* current) override;
    STDMETHODIMP AbortOperation() override { return E_NOTIMPL; }
    // IAMMediaContent: only the title is known.
    STDMETHODIMP get_Title(BSTR* title) override;
    // ISamplePosition
    STDMETHODIMP Reserved(LONG_PTR, LONG_PTR) override { return S_OK; }
    STDMETHODIMP Restart() override;
    STDMETHODIMP GetQueuedVideoBytes(DWORD* bytes) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;

    // FrameSink, on the receive thread, without a filter lock.
    int Deliver(bool is_video, const uint8_t* data, uint32_t length, int64_t time) override;

    // Shared with the pins.
    std::atomic<bool> buffering{true};
    std::atomic<int64_t> base_time{0};
    // The stream position where the connection's time line starts: the
    // range of the PLAY that started it (a seek made while stopped), else 0.
    std::atomic<int64_t> time_origin{0};
    std::atomic<bool> seek_allowed{true};
    std::atomic<int64_t> duration{0};
    CCritSec seek_lock;
    bool has_audio() const { return has_audio_; }
    // The video pin waits for the audio pin's buffering only while audio flows.
    bool audio_drives_buffering() const;
    bool live() const { return live_; }
    CRtspVideoStream* video_pin() const { return video_pin_.load(); }
    CRtspAudioStream* audio_pin() const { return audio_pin_.load(); }
    CRtspReceive* receive() const { return receive_.get(); }
    FILTER_STATE state() const { return m_State; }
    // Client settings for the sessions of this filter (tests use short time-outs).
    void SetClientConfig(const rtsp::ClientConfig& config) { client_config_ = config; }

  private:
    CTallowmere(LPUNKNOWN pUnk, HRESULT* phr);
    void FlushPins();

    std::wstring url_;
    std::atomic<bool> loadable_{true};
    std::unique_ptr<CRtspReceive> receive_;
    // Read by the receive thread, which must never take the state lock.
    std::atomic<CRtspVideoStream*> video_pin_{nullptr};
    std::atomic<CRtspAudioStream*> audio_pin_{nullptr};
    bool has_audio_ = false;
    bool live_ = true;
    bool prepared_ = false;
    rtsp::ClientConfig client_config_;
};

}  // namespace rtspstream
