#pragma once
// The conversion settings the user edits in the settings dialog. They live in memory only, so
// every start of the program begins with these defaults.

#include <cstdint>
#include <string>

namespace avs::frontend {

struct ConversionSettings {
    int32_t audio_bitrate = 64;
    int32_t sample_rate = 16000;
    int32_t channels = 3;
    int32_t width = 0;                 // 0: not set
    int32_t height = 0;                // 0: not set
    int32_t chroma_format = 1;         // 1 = 4:2:0, 2 = 4:2:2
    int32_t progressive_sequence = 1;  // 1 = progressive, 0 = interlace
    int32_t gop_length = 18;
    int32_t bframe_num = 2;
    int32_t close_gop = 1;
    int32_t rate_control = 0;  // 0 = off, 3 = on
    int32_t f_value = 3;       // not editable
    float frame_rate = 24.0f;
    int32_t video_bitrate = 0;  // 0: not set
    int32_t qp = 24;
    int32_t rdo = 0;
    int32_t search_range = 32;
    int32_t insert_seq_header = 1;
    int32_t thread_num = 1;
    int32_t loop_filter = 1;
    std::string output_path;  // empty: beside each source

    bool operator==(const ConversionSettings&) const = default;
};

}  // namespace avs::frontend
