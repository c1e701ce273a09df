#pragma once
// The settings dialog's members as both front-ends exchange them with their controls: the
// radio pairs and the combo box as indices (-1: no radio checked).

#include <string>

#include "frontend/conversion_settings.h"

namespace avs::frontend {

struct SettingFields {
    int audio_bitrate = 0;
    int sample_rate = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    int chroma_index = 0;
    int progressive_index = 0;
    int gop_length = 0;
    int bframe_num = 0;
    int close_gop = 0;
    int rate_control_index = 0;
    float frame_rate = 0;
    int video_bitrate = 0;
    int qp = 0;
    int rdo = 0;
    int search_range = 0;
    int insert_seq_header = 0;
    int thread_num = 0;
    int loop_filter = 0;
    std::string output_path;
};

// Settings into the dialog's members: the radios from their values, rate control not at all.
// Back after OK: the reverse conversions, rate control 3 when "on" is chosen.
SettingFields FieldsFromSettings(const ConversionSettings& settings);
void ApplyFields(const SettingFields& fields, ConversionSettings& settings);

}  // namespace avs::frontend
