#include "rtspstream/media_table.h"

#include <strings.h>

#include <charconv>

namespace rtspstream {

namespace {

struct StaticType {
    int number;
    const char* name;
    uint32_t clock;
};

// Static payload types of the RTP audio/video profile that carry a fixed
// encoding, so a description may leave out their rtpmap.
constexpr StaticType kStaticTypes[] = {
    {0, "PCMU", 8000},   {3, "GSM", 8000},    {4, "G723", 8000},   {5, "DVI4", 8000},
    {6, "DVI4", 16000},  {7, "LPC", 8000},    {8, "PCMA", 8000},   {9, "G722", 8000},
    {10, "L16", 44100},  {11, "L16", 44100},  {12, "QCELP", 8000}, {13, "CN", 8000},
    {14, "MPA", 90000},  {15, "G728", 8000},  {16, "DVI4", 11025}, {17, "DVI4", 22050},
    {18, "G729", 8000},  {25, "CelB", 90000}, {26, "JPEG", 90000}, {28, "nv", 90000},
    {31, "H261", 90000}, {32, "MPV", 90000},  {33, "MP2T", 90000}, {34, "H263", 90000},
};

int32_t ReadPayloadType(const std::string& text) {
    int32_t value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value > 127)
        return -1;
    return value;
}

MediaCodec CodecOf(const rtsp::SdpFormat& format) {
    std::optional<rtsp::SdpRtpMap> encoding = FormatEncoding(format);
    if (!encoding) return kCodecOther;
    if (strcasecmp(encoding->encoding_name.c_str(), "AVS1-P2") == 0) return kCodecAvs;
    if (strcasecmp(encoding->encoding_name.c_str(), "MPA") == 0) return kCodecMpa;
    return kCodecOther;
}

uint32_t ClockOf(const std::vector<MediaEntry>& list, size_t index) {
    if (index >= list.size() || !list[index].media || list[index].media->formats.empty()) return 0;
    std::optional<rtsp::SdpRtpMap> encoding = FormatEncoding(list[index].media->formats.front());
    return encoding ? encoding->clock_rate : 0;
}

}  // namespace

std::optional<rtsp::SdpRtpMap> FormatEncoding(const rtsp::SdpFormat& format) {
    if (format.rtpmap) return format.rtpmap;
    int32_t number = ReadPayloadType(format.text);
    for (const StaticType& s : kStaticTypes)
        if (s.number == number) return rtsp::SdpRtpMap{s.name, s.clock, {}};
    return std::nullopt;
}

const MediaEntry* MediaTable::FindByPayloadType(int payload_type) const {
    for (const MediaEntry& e : audio_)
        if (e.payload_type == payload_type) return &e;
    for (const MediaEntry& e : video_)
        if (e.payload_type == payload_type) return &e;
    return nullptr;
}

uint32_t MediaTable::VideoClockRate(size_t index) const {
    return ClockOf(video_, index);
}
uint32_t MediaTable::AudioClockRate(size_t index) const {
    return ClockOf(audio_, index);
}

void MediaTable::Clear() {
    video_.clear();
    audio_.clear();
    media_list_ = nullptr;
}

bool ClassifyMedia(const std::vector<rtsp::SdpMedia>& media, MediaTable& table) {
    table.Clear();
    if (media.empty()) return false;
    for (const rtsp::SdpMedia& m : media) {
        MediaEntry entry;
        if (strcasecmp(m.name.c_str(), "video") == 0)
            entry.kind = kMediaVideo;
        else if (m.name == "audio")
            entry.kind = kMediaAudio;
        else {
            table.Clear();
            return false;
        }
        if (m.formats.empty()) {
            table.Clear();
            return false;
        }
        entry.payload_type = ReadPayloadType(m.formats.front().text);
        entry.codec = CodecOf(m.formats.front());
        entry.media = &m;
        (entry.kind == kMediaVideo ? table.video_ : table.audio_).push_back(entry);
    }
    table.media_list_ = &media;
    return true;
}

}  // namespace rtspstream
