#include "gst/avs_picture.h"

#include <numeric>

namespace avsgst {

namespace {

constexpr uint8_t kSequenceHeader = 0xB0;
constexpr uint8_t kIPicture = 0xB3;
constexpr uint8_t kPbPicture = 0xB6;

// Exact rates by frame_rate_code, as fractions.
constexpr int kRates[9][2] = {{0, 1},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                              {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};

}  // namespace

PictureKind picture_kind(std::span<const uint8_t> es) {
    for (size_t at = 0; at + 4 <= es.size(); ++at) {
        if (es[at] != 0 || es[at + 1] != 0 || es[at + 2] != 1) continue;
        uint8_t value = es[at + 3];
        if (value == kIPicture) return PictureKind::Key;
        if (value == kPbPicture) {
            // picture_coding_type: the top two bits after the 16-bit bbv_delay.
            const bool b = at + 6 < es.size() && (es[at + 6] >> 6) == 2;
            return b ? PictureKind::Bidirectional : PictureKind::Predicted;
        }
        // Slices come only after a picture header.
        if (value < kSequenceHeader) return PictureKind::None;
        at += 3;
    }
    return PictureKind::None;
}

std::optional<std::span<const uint8_t>> leading_sequence_header(std::span<const uint8_t> es) {
    if (es.size() < 4 || es[0] != 0 || es[1] != 0 || es[2] != 1 || es[3] != kSequenceHeader)
        return std::nullopt;
    for (size_t at = 4; at + 3 <= es.size(); ++at)
        if (es[at] == 0 && es[at + 1] == 0 && es[at + 2] == 1) return es.first(at);
    return es;
}

std::optional<VideoFormat> video_format_of(std::span<const uint8_t> header_unit) {
    avs::AvsSequenceHeader header;
    avs::DecodeResult result =
        avs::decode_sequence_header(header_unit.data(), header_unit.size(), header);
    if (result == avs::DecodeResult::kTruncated) return std::nullopt;
    if (header.horizontal_size <= 0 || header.vertical_size <= 0) return std::nullopt;
    VideoFormat format;
    format.width = header.horizontal_size;
    format.height = header.vertical_size;
    if (header.frame_rate_code >= 1 && header.frame_rate_code <= 8) {
        format.fps_n = kRates[header.frame_rate_code][0];
        format.fps_d = kRates[header.frame_rate_code][1];
    } else {
        format.fps_n = 0;
        format.fps_d = 1;
    }
    // aspect_ratio_information gives the display aspect ratio (2: 4:3, 3: 16:9,
    // 4: 2.21:1); 1 and anything else mean square samples.
    int dar_n = 0, dar_d = 1;
    switch (header.aspect_ratio_information) {
        case 2:
            dar_n = 4, dar_d = 3;
            break;
        case 3:
            dar_n = 16, dar_d = 9;
            break;
        case 4:
            dar_n = 221, dar_d = 100;
            break;
        default:
            break;
    }
    if (dar_n != 0) {
        int64_t n = int64_t{dar_n} * format.height;
        int64_t d = int64_t{dar_d} * format.width;
        int64_t g = std::gcd(n, d);
        format.par_n = static_cast<int>(n / g);
        format.par_d = static_cast<int>(d / g);
    }
    return format;
}

}  // namespace avsgst
