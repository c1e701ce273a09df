#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "avs/sequence_header.h"
#include "rtsp/client.h"
#include "rtsp/sdp.h"
#include "rtspstream/frame_assembler.h"
#include "rtspstream/media_table.h"
#include "rtspstream/stream_formats.h"
#include "rtspstream/time_line.h"

namespace rtspstream {

// Result of the session's last operation.
enum ConnectStatus : int {
    kStatusOk = 0,
    kStatusNoClient = 1,        // address not usable or connection failed
    kStatusDescribeFailed = 2,  // describe_status() holds the server's code, -1 without a reply
    kStatusBadDescription = 3,  // not a description, no media, or a media neither video nor audio
    kStatusNoSessionControl = 4,
    kStatusSetupFailed = 5,
    kStatusPlayFailed = 6,
    kStatusPauseFailed = 7,
    kStatusTeardownFailed = 8,
};

// One assembled frame, valid only during the frame callback.
struct FrameDescriptor {
    uint8_t is_video = 0;
    const uint8_t* data = nullptr;  // audio: into the packet; video: the frame buffer
    uint32_t length = 0;
    int64_t time = 0;  // 100-ns units on the stream's time line
    // A picture before this one was dropped (a packet of it missing, or too large).
    uint8_t lost_before = 0;
    void* receiver = nullptr;  // as given to SetDeliver
};

// Called on the client's receive thread for every frame; may block (that
// holds back the reading of the connection). Its result is not used.
using FrameCallback = int (*)(const FrameDescriptor& frame);
// Called on the client's receive thread when the server ended the stream
// (ended() has just become true); receiver as given to SetDeliver.
using StreamEndCallback = void (*)(void* receiver);

// Drives one server stream: DESCRIBE and one SETUP per media with RTP
// interleaved in the RTSP connection, aggregate PLAY, PAUSE and TEARDOWN, and
// turns the RTP packets into frames for the callback.
//
// Threads: Connect, Play, Pause, PlayRange, Teardown and the accessors are
// for the controlling thread(s), one at a time. The frame callback runs on the
// client's receive thread between a successful Connect and Teardown (or
// destruction, which joins that thread).
class RtspClientSession {
  public:
    RtspClientSession();
    ~RtspClientSession();  // sends TEARDOWN first when connected
    RtspClientSession(const RtspClientSession&) = delete;
    RtspClientSession& operator=(const RtspClientSession&) = delete;

    // Set before Connect.
    void SetDeliver(FrameCallback deliver, void* receiver);
    void SetStreamEnd(StreamEndCallback ended) { ended_callback_ = ended; }
    void SetClientConfig(const rtsp::ClientConfig& config) { config_ = config; }

    bool Connect(const std::string& url);
    bool Play();
    bool Pause();
    bool Teardown();
    // The Range of the next PLAY only (e.g. "npt=5.050-60.000"); later PLAYs
    // carry none, so they resume where the stream was paused.
    void SetRange(std::string range) { range_ = std::move(range); }
    // Sets the range from milliseconds and sends PLAY.
    bool PlayRange(uint32_t start_ms, uint32_t stop_ms);
    // "npt=S.sss-E.eee"
    static std::string FormatNptRange(uint32_t start_ms, uint32_t stop_ms);

    // Steps of Connect after DESCRIBE, on a description text: decode, make the
    // control addresses absolute against base, fill the media table. Sets
    // status 3 and returns false when the text is refused.
    bool LoadDescription(std::string_view sdp, const std::string& base);

    ConnectStatus Status() const { return status_; }
    int DescribeStatus() const { return describe_status_; }
    bool Connected() const { return connected_; }
    // Nothing more will come from the server: the connection closed, or every
    // medium that sent packets said BYE since the last PLAY. Any thread.
    bool Ended() const { return closed_.load() || bye_.load(); }
    const rtsp::SessionDescription* Description() const { return description_.get(); }
    const MediaTable& Media() const { return table_; }
    bool HasVideo() const { return table_.HasVideo(); }
    bool HasAudio() const { return table_.HasAudio(); }
    // The session-level range end in seconds; 0 when absent.
    double Duration() const;

    // The first video media's sequence header (header_length and header_bytes
    // only); false and a zeroed header when the description has none.
    bool GetVideoHeader(avs::AvsSequenceHeader& header, size_t video_index = 0) const;
    std::optional<AudioFormatRecord> GetAudioFormat(size_t audio_index = 0) const;

    // The RTP callback registered for every media; user is the session.
    static void OnRtpPacket(void* user, uint8_t channel, const uint8_t* packet, size_t length);

    // Receive-side state, for inspection.
    const TimeLine& Timing() const { return time_line_; }
    const FrameAssembler& Assembler() const { return assembler_; }

  private:
    void HandlePacket(const uint8_t* packet, size_t length);
    // An RTCP packet on a control channel; true when it was one (a BYE is noted).
    bool HandleControlPacket(const uint8_t* packet, size_t length);
    static void OnClosed(void* user);
    void NoteEnded();
    void ReleaseConnection();

    rtsp::ClientConfig config_;
    std::unique_ptr<rtsp::Client> client_;
    std::unique_ptr<rtsp::SessionDescription> description_;
    std::vector<std::unique_ptr<rtsp::SetupHandle>> setup_handles_;
    MediaTable table_;
    uint32_t first_video_clock_ = 0;  // clock rates of the first media of each list
    uint32_t first_audio_clock_ = 0;
    std::string range_;
    ConnectStatus status_ = kStatusOk;
    int describe_status_ = 0;
    bool connected_ = false;
    FrameCallback deliver_ = nullptr;
    StreamEndCallback ended_callback_ = nullptr;
    void* receiver_ = nullptr;
    std::atomic<bool> closed_{false};
    std::atomic<bool> bye_{false};
    std::atomic<uint32_t> plays_{0};  // PLAY requests sent

    // Touched only on the receive thread while a client runs.
    TimeLine time_line_;
    FrameAssembler assembler_;
    uint32_t plays_seen_ = 0;
    struct Source {
        bool seen = false;  // RTP came from it since the last PLAY
        bool gone = false;  // and a BYE named it
        uint32_t ssrc = 0;
        bool sequenced = false;      // numbered_ssrc and next_sequence are set
        uint32_t numbered_ssrc = 0;  // the source whose numbering is followed
        uint16_t next_sequence = 0;  // the number expected next from it
    } sources_[2];                   // video, audio
    // Video: a packet of the picture being assembled is missing; the picture is
    // dropped at its marker and the next one marked lost_before.
    bool video_damaged_ = false;
    bool video_lost_ = false;
};

}  // namespace rtspstream
