#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "avs/sequence_header.h"
#include "dshow/streams.h"
#include "rtspstream/rtsp_client_session.h"

namespace rtspstream {

// What the receive side hands its frames to (the filter).
class FrameSink {
  public:
    // Returns -1 when the frame was refused and may be offered again.
    virtual int Deliver(bool is_video, const uint8_t* data, uint32_t length, int64_t time) = 0;
    // Something was lost before the frame delivered next (a picture dropped as
    // damaged or too large).
    virtual void FrameLost(bool is_video) = 0;
    // The server ended the stream (closed the connection or said BYE);
    // called on the receive thread.
    virtual void ServerEnded() = 0;

  protected:
    ~FrameSink() = default;
};

// The receive side of one loaded address: an RTSP session, or for an address
// without "://" a raw AVS elementary-stream file read on a thread of its own.
class CRtspReceive {
  public:
    CRtspReceive(std::string url, FrameSink* filter, HRESULT* result);
    ~CRtspReceive();  // the session sends TEARDOWN when still connected
    CRtspReceive(const CRtspReceive&) = delete;
    CRtspReceive& operator=(const CRtspReceive&) = delete;

    bool Init();
    void OnThreadCreate();   // starts delivery (PLAY, reconnecting when torn down)
    void OnThreadDestroy();  // ends delivery (TEARDOWN)
    void Play();
    void Pause();
    void PlayRange(uint32_t start_ms, uint32_t stop_ms);
    // The Range of the next PLAY (a seek made while stopped).
    void SetRange(uint32_t start_ms, uint32_t stop_ms);

    const avs::AvsSequenceHeader& GetVideoHeader() const { return video_header_; }
    const AudioFormatRecord& GetAudioFormat() const { return audio_format_; }
    bool has_video() const { return has_video_; }
    bool has_audio() const { return has_audio_; }
    bool local_file() const { return local_file_; }
    bool connected() const { return connected_; }
    bool not_playing() const { return not_playing_.load(); }
    // Nothing more will come from the server for this play. Any thread.
    bool server_ended() const { return session_ && session_->Ended(); }
    const std::string& title_url() const { return title_url_; }
    // The session description's duration in seconds; 0 without a session.
    double duration() const { return session_ ? session_->Duration() : 0.0; }
    RtspClientSession* session() { return session_.get(); }
    // Client settings for every session made from now on (tests use short time-outs).
    void SetClientConfig(const rtsp::ClientConfig& config) { config_ = config; }

  private:
    static int OnFrame(const FrameDescriptor& frame);
    static void OnEnded(void* self);
    static DWORD WINAPI SocketThreadProc(LPVOID self);
    bool ConnectSession();
    // A local file's reader: told to stop (not_playing_ and its event), then joined.
    void StopReader();

    const std::string url_;
    std::string title_url_;
    FrameSink* const filter_;
    std::unique_ptr<RtspClientSession> session_;
    rtsp::ClientConfig config_;
    bool local_file_ = false;
    std::atomic<bool> not_playing_{false};
    bool connected_ = false;
    bool has_video_ = false;
    bool has_audio_ = false;
    avs::AvsSequenceHeader video_header_{};
    AudioFormatRecord audio_format_{};
    HANDLE reader_thread_ = nullptr;
    // Manual reset: set by the reader as it starts, and by StopReader for a
    // reader waiting out a refused frame.
    HANDLE reader_started_ = nullptr;
    HANDLE reader_stop_ = nullptr;
};

}  // namespace rtspstream
