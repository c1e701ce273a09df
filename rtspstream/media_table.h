#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rtsp/sdp.h"

namespace rtspstream {

enum MediaKind : int32_t { kMediaVideo = 1, kMediaAudio = 2 };
enum MediaCodec : int32_t { kCodecOther = 0, kCodecAvs = 1, kCodecMpa = 2 };

struct MediaEntry {
    int32_t payload_type = -1;  // the first format's number; -1 when it is not a number
    MediaKind kind = kMediaVideo;
    MediaCodec codec = kCodecOther;
    const rtsp::SdpMedia* media = nullptr;  // into the description, not owned
};

// The encoding name and clock rate of a format: its rtpmap, or for a static
// payload type written without one, the assignment of the RTP audio/video
// profile (14 is MPA/90000). Nothing when neither exists.
std::optional<rtsp::SdpRtpMap> FormatEncoding(const rtsp::SdpFormat& format);

// The media of a description sorted into a video and an audio list.
class MediaTable {
  public:
    const std::vector<MediaEntry>& Video() const { return video_; }
    const std::vector<MediaEntry>& Audio() const { return audio_; }
    size_t Total() const { return video_.size() + audio_.size(); }
    bool HasVideo() const { return !video_.empty(); }
    bool HasAudio() const { return !audio_.empty(); }

    // Audio list first, then video, each in order.
    const MediaEntry* FindByPayloadType(int payload_type) const;
    // The clock rate of that entry's first format; 0 outside the list or
    // when the format has no known clock.
    uint32_t VideoClockRate(size_t index) const;
    uint32_t AudioClockRate(size_t index) const;

    void Clear();

  private:
    friend bool ClassifyMedia(const std::vector<rtsp::SdpMedia>& media, MediaTable& table);
    std::vector<MediaEntry> video_;
    std::vector<MediaEntry> audio_;
    const std::vector<rtsp::SdpMedia>* media_list_ = nullptr;
};

// Fills the table from the media list (which must outlive it). False for an
// empty list, a media neither "video" (any case) nor "audio" (exact case), or
// a media without a format.
bool ClassifyMedia(const std::vector<rtsp::SdpMedia>& media, MediaTable& table);

}  // namespace rtspstream
