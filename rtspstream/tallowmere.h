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

// What the pins share with the filter. A change of buffering wakes the pins'
// workers, since the video pin waits for the audio pin's buffering to end.
class SharedPlayState {
  public:
    bool buffering() const { return buffering_.load(); }
    void SetBuffering(bool on);
    int64_t base_time() const { return base_time_.load(); }
    void SetBaseTime(int64_t time) { base_time_ = time; }
    // The stream position where the connection's time line starts: the
    // range of the PLAY that started it (a seek made while stopped), else 0.
    int64_t time_origin() const { return time_origin_.load(); }
    void SetTimeOrigin(int64_t time) { time_origin_ = time; }
    bool seek_allowed() const { return seek_allowed_.load(); }
    void SetSeekAllowed(bool allowed) { seek_allowed_ = allowed; }
    int64_t duration() const { return duration_.load(); }
    void SetDuration(int64_t duration) { duration_ = duration; }
    // Held through a seek, so that the two pins' seeks do not interleave.
    CCritSec* seek_lock() { return &seek_lock_; }
    // The pins' wake events, set once as the pins are made.
    void AddWakeEvent(HANDLE event);

  private:
    std::atomic<bool> buffering_{true};
    std::atomic<int64_t> base_time_{0};
    std::atomic<int64_t> time_origin_{0};
    std::atomic<bool> seek_allowed_{true};
    std::atomic<int64_t> duration_{0};
    CCritSec seek_lock_;
    std::atomic<HANDLE> wake_[2] = {nullptr, nullptr};
};

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
    void FrameLost(bool is_video) override;
    // The pins look again: what they hold is all there will be.
    void ServerEnded() override { WakePins(); }
    bool server_ended() const {
        CRtspReceive* receive = receive_.get();
        return receive != nullptr && receive->server_ended();
    }

    SharedPlayState& shared() { return shared_; }
    const SharedPlayState& shared() const { return shared_; }
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
    // The filter's state changed: the end-of-stream rule depends on it.
    void WakePins();

    SharedPlayState shared_;
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
