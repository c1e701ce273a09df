#include "rtspstream/stream_formats.h"

#include <algorithm>
#include <cstring>

namespace rtspstream {

namespace {

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        bool last = i + 4 == text.size();
        for (size_t k = 0; k < 4; ++k) {
            unsigned char c = static_cast<unsigned char>(text[i + k]);
            int v = Base64Value(c);
            if (v < 0) {
                bool is_padding = c == '=' && last && k >= 4 - padding;
                if (!is_padding) return std::nullopt;
                v = 0;
            }
            group = (group << 6) | static_cast<uint32_t>(v);
        }
        out.push_back(static_cast<uint8_t>(group >> 16));
        out.push_back(static_cast<uint8_t>(group >> 8));
        out.push_back(static_cast<uint8_t>(group));
    }
    out.resize(out.size() - padding);
    return out;
}

std::optional<std::vector<uint8_t>> DecodeParameterSets(const MediaTable& table,
                                                        size_t video_index) {
    if (video_index >= table.Video().size()) return std::nullopt;
    const rtsp::SdpMedia* media = table.Video()[video_index].media;
    if (!media || media->formats.empty() || !media->formats.front().fmtp) return std::nullopt;
    std::string_view fmtp = *media->formats.front().fmtp;
    constexpr std::string_view kKey = "sprop-parameter-sets=";
    size_t at = fmtp.find(kKey);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view value = fmtp.substr(at + kKey.size());
    value = value.substr(0, value.find_first_of(",;"));
    std::optional<std::vector<uint8_t>> decoded = DecodeBase64(value);
    if (!decoded) return std::nullopt;
    std::vector<uint8_t> out{0x00, 0x00, 0x01};
    out.insert(out.end(), decoded->begin(), decoded->end());
    return out;
}

bool GetVideoHeader(const MediaTable& table, size_t video_index, avs::AvsSequenceHeader& header) {
    header = avs::AvsSequenceHeader{};
    std::optional<std::vector<uint8_t>> bytes = DecodeParameterSets(table, video_index);
    if (!bytes) return false;
    // A parameter set longer than the room is cut to what fits.
    size_t length = std::min(bytes->size(), sizeof header.header_bytes);
    std::memcpy(header.header_bytes, bytes->data(), length);
    header.header_length = static_cast<int32_t>(length);
    return true;
}

std::optional<AudioFormatRecord> GetAudioFormat(const MediaTable& table, size_t audio_index) {
    if (audio_index >= table.Audio().size()) return std::nullopt;
    AudioFormatRecord record;
    const rtsp::SdpMedia* media = table.Audio()[audio_index].media;
    if (media && !media->formats.empty()) {
        if (std::optional<rtsp::SdpRtpMap> encoding = FormatEncoding(media->formats.front())) {
            if (encoding->encoding_name == "MPA") record.w_format_tag = kWaveFormatMpeg;
            record.n_samples_per_sec = encoding->clock_rate;
        }
    }
    return record;
}

}  // namespace rtspstream
