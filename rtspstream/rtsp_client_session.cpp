#include "rtspstream/rtsp_client_session.h"

#include <cstdio>

#include "rtsp/rtp_header.h"
#include "rtspstream/control_urls.h"
#include "rtspstream/trace.h"

namespace rtspstream {

namespace {
constexpr char kTransport[] = "RTP/AVP/TCP;interleaved=0-1";
}

RtspClientSession::RtspClientSession() = default;

RtspClientSession::~RtspClientSession() {
    if (connected_) Teardown();
    client_.reset();  // closes the connection and joins the receive thread
}

void RtspClientSession::SetDeliver(FrameCallback deliver, void* receiver) {
    deliver_ = deliver;
    receiver_ = receiver;
}

void RtspClientSession::ReleaseConnection() {
    client_.reset();  // first: no packet may arrive while the rest goes
    setup_handles_.clear();
    table_.Clear();
    description_.reset();
    assembler_.Release();
    connected_ = false;
}

double RtspClientSession::Duration() const {
    return description_ && description_->range_end ? *description_->range_end : 0.0;
}

std::string RtspClientSession::FormatNptRange(uint32_t start_ms, uint32_t stop_ms) {
    char text[64];
    std::snprintf(text, sizeof text, "npt=%u.%03u-%u.%03u", start_ms / 1000, start_ms % 1000,
                  stop_ms / 1000, stop_ms % 1000);
    return text;
}

bool RtspClientSession::LoadDescription(std::string_view sdp, const std::string& base) {
    table_.Clear();
    rtsp::SdpDecodeResult decoded = rtsp::DecodeSdp(sdp);
    if (decoded.descriptions.empty() || (decoded.error && decoded.descriptions.size() != 1)) {
        description_.reset();
        status_ = kStatusBadDescription;
        return false;
    }
    description_ =
        std::make_unique<rtsp::SessionDescription>(std::move(decoded.descriptions.front()));
    ResolveControlUrls(*description_, base);
    if (!ClassifyMedia(description_->media, table_)) {
        status_ = kStatusBadDescription;
        return false;
    }
    first_video_clock_ = table_.VideoClockRate(0);
    first_audio_clock_ = table_.AudioClockRate(0);
    return true;
}

bool RtspClientSession::Connect(const std::string& url) {
    ReleaseConnection();
    time_line_.Reset();
    describe_status_ = 0;
    // The old connection's receive thread has ended: what it said is over.
    closed_ = false;
    bye_ = false;
    plays_seen_ = plays_.load();
    for (Source& source : sources_) source = Source();

    std::string error;
    rtsp::ClientConfig config = config_;
    config.on_closed = &RtspClientSession::OnClosed;
    config.on_closed_user = this;
    client_ = rtsp::Client::Create(url, config, &error);
    if (!client_) {
        Trace("RtspClientSession::Connect() %s", error.c_str());
        status_ = kStatusNoClient;
        return false;
    }

    rtsp::RequestOptions options;
    options.accept = "application/sdp";
    std::unique_ptr<rtsp::Reply> reply;
    if (client_->Describe(options, &reply) != rtsp::ClientError::kOk) {
        describe_status_ = reply ? reply->status_code : -1;
        status_ = kStatusDescribeFailed;
        client_.reset();
        return false;
    }
    const std::string& base = reply->content_base.empty() ? url : reply->content_base;
    if (!LoadDescription(reply->body, base)) {
        client_.reset();
        return false;
    }
    reply.reset();

    setup_handles_.resize(description_->media.size());
    if (!description_->control) {
        status_ = kStatusNoSessionControl;
        client_.reset();
        return false;
    }

    options = {};
    options.transport = kTransport;
    for (size_t i = 0; i < description_->media.size(); ++i) {
        const rtsp::SdpMedia& media = description_->media[i];
        std::string control = media.control.value_or(std::string());
        if (client_->Setup(control, options, true, &setup_handles_[i], &reply) !=
                rtsp::ClientError::kOk ||
            client_->RegisterRtpCallback(&RtspClientSession::OnRtpPacket, nullptr,
                                         static_cast<int>(i), this) != rtsp::ClientError::kOk) {
            status_ = kStatusSetupFailed;
            client_.reset();
            return false;
        }
    }
    status_ = kStatusOk;
    connected_ = true;
    return true;
}

bool RtspClientSession::Play() {
    // The stream plays again after a BYE; the packets of the new PLAY may
    // start anywhere on the sender's clock (a seek).
    bye_ = false;
    ++plays_;
    rtsp::RequestOptions options;
    options.range = std::move(range_);
    range_.clear();
    if (!client_ || !description_ || !description_->control ||
        client_->Play(*description_->control, options, nullptr) != rtsp::ClientError::kOk) {
        status_ = kStatusPlayFailed;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

bool RtspClientSession::PlayRange(uint32_t start_ms, uint32_t stop_ms) {
    SetRange(FormatNptRange(start_ms, stop_ms));
    return Play();
}

bool RtspClientSession::Pause() {
    if (!client_ || !description_ || !description_->control ||
        client_->Pause(*description_->control, {}, nullptr) != rtsp::ClientError::kOk) {
        status_ = kStatusPauseFailed;
        return false;
    }
    status_ = kStatusOk;
    return true;
}

bool RtspClientSession::Teardown() {
    connected_ = false;
    if (!description_) return true;
    bool ok = client_ && description_->control &&
              client_->Teardown(*description_->control, {}, nullptr) == rtsp::ClientError::kOk;
    setup_handles_.clear();
    if (!ok) {
        // The receive thread may still be running; the media table it reads
        // stays until the client goes.
        status_ = kStatusTeardownFailed;
        return false;
    }
    range_.clear();
    ReleaseConnection();
    status_ = kStatusOk;
    return true;
}

bool RtspClientSession::GetVideoHeader(avs::AvsSequenceHeader& header, size_t video_index) const {
    return rtspstream::GetVideoHeader(table_, video_index, header);
}

std::optional<AudioFormatRecord> RtspClientSession::GetAudioFormat(size_t audio_index) const {
    return rtspstream::GetAudioFormat(table_, audio_index);
}

void RtspClientSession::OnRtpPacket(void* user, uint8_t channel, const uint8_t* packet,
                                    size_t length) {
    // The medium is found by payload type, so the channel does not matter,
    // except that an RTCP packet on a control channel is looked at for a BYE.
    // The packet is lent by the client and goes back to it on return.
    auto* self = static_cast<RtspClientSession*>(user);
    if ((channel & 1) != 0 && self->HandleControlPacket(packet, length)) return;
    self->HandlePacket(packet, length);
}

void RtspClientSession::OnClosed(void* user) {
    auto* self = static_cast<RtspClientSession*>(user);
    self->closed_ = true;
    self->NoteEnded();
}

void RtspClientSession::NoteEnded() {
    Trace("RtspClientSession: the server ended the stream");
    if (ended_callback_ && receiver_) ended_callback_(receiver_);
}

bool RtspClientSession::HandleControlPacket(const uint8_t* packet, size_t length) {
    // A compound packet: each part starts with version 2, a type of 200 to 204
    // and its length in 32-bit words less one. Anything else is left to the
    // RTP path, as before.
    size_t at = 0;
    bool bye = false;
    std::vector<uint32_t> leaving;
    while (at < length) {
        if (length - at < 4) return false;
        const uint8_t* p = packet + at;
        if ((p[0] >> 6) != 2 || p[1] < 200 || p[1] > 204) return false;
        size_t bytes = (((size_t(p[2]) << 8) | p[3]) + 1) * 4;
        if (bytes > length - at) return false;
        if (p[1] == 203) {
            bye = true;
            size_t count = p[0] & 0x1F;
            for (size_t i = 0; i < count && 4 + 4 * i + 4 <= bytes; ++i) {
                const uint8_t* s = p + 4 + 4 * i;
                leaving.push_back((uint32_t(s[0]) << 24) | (uint32_t(s[1]) << 16) |
                                  (uint32_t(s[2]) << 8) | s[3]);
            }
        }
        at += bytes;
    }
    if (!bye) return true;
    if (plays_seen_ != plays_.load()) return true;  // a BYE of what played before
    bool any = false, all = true;
    for (Source& source : sources_) {
        if (!source.seen) continue;
        any = true;
        for (uint32_t ssrc : leaving)
            if (ssrc == source.ssrc) source.gone = true;
        all = all && source.gone;
    }
    if (any && all && !bye_.exchange(true)) NoteEnded();
    return true;
}

void RtspClientSession::HandlePacket(const uint8_t* packet, size_t length) {
    rtsp::RtpHeader header;
    if (!rtsp::ParseRtpHeader(packet, length, header)) return;
    const MediaEntry* entry = table_.FindByPayloadType(header.payload_type);
    if (!entry) return;  // RTCP on the odd channels ends here too
    bool video = entry->kind == kMediaVideo;
    // Video that is not AVS is never used, so it must not fix the time base either.
    if (video && entry->codec != kCodecAvs) return;
    uint32_t plays = plays_.load();
    if (plays != plays_seen_) {
        // The first packet since a PLAY.
        plays_seen_ = plays;
        time_line_.Reposition();
        for (Source& source : sources_) source = Source();
        video_damaged_ = false;
        video_lost_ = false;
    }
    Source& source = sources_[video ? 0 : 1];
    // Numbering is followed for the first source seen since the PLAY: a packet of
    // another (junk, most likely) says nothing about it. A step forward past the
    // expected number is a loss; a step back is a late or repeated packet, which
    // neither counts as one nor moves the expectation.
    if (!source.sequenced) {
        source.sequenced = true;
        source.numbered_ssrc = header.ssrc;
        source.next_sequence = static_cast<uint16_t>(header.sequence + 1);
    } else if (header.ssrc == source.numbered_ssrc) {
        const auto ahead = static_cast<uint16_t>(header.sequence - source.next_sequence);
        if (ahead < 0x8000) {
            if (video && ahead != 0) video_damaged_ = true;
            source.next_sequence = static_cast<uint16_t>(header.sequence + 1);
        }
    }
    source.seen = true;
    source.ssrc = header.ssrc;
    if (time_line_.FirstPacket())
        time_line_.StartIfFirst(header.timestamp, video ? first_video_clock_ : first_audio_clock_);

    if (!video) {
        FrameDescriptor frame;
        frame.is_video = 0;
        frame.data = header.payload;
        frame.length = static_cast<uint32_t>(header.payload_length);
        // An MPEG audio payload header (four zero bytes) goes; the frame stays.
        if (header.payload_length >= 4 && header.payload[0] == 0 && header.payload[1] == 0 &&
            header.payload[2] == 0 && header.payload[3] == 0) {
            frame.data += 4;
            frame.length -= 4;
        }
        frame.time = time_line_.Step(Medium::kAudio, header.timestamp, first_audio_clock_);
        frame.receiver = receiver_;
        if (receiver_ && deliver_) deliver_(frame);
        return;
    }

    if (!assembler_.Add(header.payload, header.payload_length)) return;
    if (!header.marker) return;
    if (assembler_.Overflowed() || video_damaged_) {
        if (video_damaged_)
            Trace("picture with a missing packet dropped");
        else
            Trace("frame over %lu bytes dropped",
                  static_cast<unsigned long>(FrameAssembler::kMaxFrameBytes));
        assembler_.NextFrame();
        video_damaged_ = false;
        video_lost_ = true;
        return;
    }
    FrameDescriptor frame;
    frame.is_video = 1;
    frame.data = assembler_.Data();
    frame.length = static_cast<uint32_t>(assembler_.Length());
    frame.time = time_line_.Step(Medium::kVideo, header.timestamp, first_video_clock_);
    frame.receiver = receiver_;
    frame.lost_before = video_lost_ ? 1 : 0;
    video_lost_ = false;
    if (receiver_ && deliver_) {
        deliver_(frame);
        uint8_t kind = frame.length > 3 ? frame.data[3] : 0;
        if (kind == 0xB3)
            Trace("I frame: size: %u", frame.length);
        else if (kind == 0xB6)
            Trace("P or B frame: size: %u", frame.length);
        else
            Trace("Other frame: %d", kind);
    }
    assembler_.NextFrame();
}

}  // namespace rtspstream
