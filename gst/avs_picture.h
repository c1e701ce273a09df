// What the GStreamer elements need to know about one AVS picture in the
// elementary-stream form (units behind 00 00 01), and the caps fields a
// sequence header gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "avs/sequence_header.h"

namespace avsgst {

// Key: an I picture. Predicted: a P picture (a reference for later ones).
// Bidirectional: a B picture, which nothing refers to.
enum class PictureKind { None, Key, Predicted, Bidirectional };

// The kind of the first picture header in the bytes (0xB3, or 0xB6 with its
// picture_coding_type); None when there is no picture header.
PictureKind picture_kind(std::span<const uint8_t> es);

// The sequence header unit (00 00 01 B0 up to the next prefix) when the bytes
// begin with one.
std::optional<std::span<const uint8_t>> leading_sequence_header(std::span<const uint8_t> es);

struct VideoFormat {
    int width = 0;
    int height = 0;
    int fps_n = 0;  // 0/1 when the frame-rate code is not a valid one
    int fps_d = 1;
    int par_n = 1;
    int par_d = 1;
    bool operator==(const VideoFormat&) const = default;
};

// Decodes a whole sequence header unit (prefix included); nothing when it is
// truncated or gives no picture size.
std::optional<VideoFormat> video_format_of(std::span<const uint8_t> header_unit);

}  // namespace avsgst
