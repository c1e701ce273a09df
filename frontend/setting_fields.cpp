#include "frontend/setting_fields.h"

namespace avs::frontend {

SettingFields FieldsFromSettings(const ConversionSettings& s) {
    SettingFields f;
    f.audio_bitrate = s.audio_bitrate;
    f.sample_rate = s.sample_rate;
    f.channels = s.channels;
    f.width = s.width;
    f.height = s.height;
    f.chroma_index = s.chroma_format - 1;
    f.progressive_index = s.progressive_sequence != 0 ? 0 : 1;
    f.gop_length = s.gop_length;
    f.bframe_num = s.bframe_num;
    f.close_gop = s.close_gop;
    f.frame_rate = s.frame_rate;
    f.video_bitrate = s.video_bitrate;
    f.qp = s.qp;
    f.rdo = s.rdo;
    f.search_range = s.search_range;
    f.insert_seq_header = s.insert_seq_header;
    f.thread_num = s.thread_num;
    f.loop_filter = s.loop_filter;
    f.output_path = s.output_path;
    return f;
}

void ApplyFields(const SettingFields& f, ConversionSettings& s) {
    s.audio_bitrate = f.audio_bitrate;
    s.sample_rate = f.sample_rate;
    s.channels = f.channels;
    s.width = f.width;
    s.height = f.height;
    s.chroma_format = f.chroma_index + 1;
    s.progressive_sequence = f.progressive_index == 0 ? 1 : 0;
    s.gop_length = f.gop_length;
    s.bframe_num = f.bframe_num;
    s.close_gop = f.close_gop;
    s.rate_control = f.rate_control_index == 1 ? 3 : 0;
    s.frame_rate = f.frame_rate;
    s.video_bitrate = f.video_bitrate;
    s.qp = f.qp;
    s.rdo = f.rdo;
    s.search_range = f.search_range;
    s.insert_seq_header = f.insert_seq_header;
    s.thread_num = f.thread_num;
    s.loop_filter = f.loop_filter;
    s.output_path = f.output_path;
}

}  // namespace avs::frontend
