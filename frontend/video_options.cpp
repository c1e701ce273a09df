#include "frontend/video_options.h"

#include <cstdio>

namespace avs::frontend {
namespace {

void AddInt(std::string& text, const char* option, int value) {
    char item[48];
    std::snprintf(item, sizeof item, " %s %d", option, value);
    text += item;
}

}  // namespace

std::string BuildVideoOptions(const ConversionSettings& s) {
    std::string text;
    if (s.width != 0 && s.height != 0) {
        AddInt(text, "-w", s.width);
        AddInt(text, "-h", s.height);
    }
    AddInt(text, "-c", s.chroma_format);
    AddInt(text, "-p", s.progressive_sequence);
    AddInt(text, "-g", s.gop_length);
    AddInt(text, "-q", s.qp);
    AddInt(text, "-b", s.bframe_num);
    AddInt(text, "-a", s.rate_control);
    AddInt(text, "-f", s.f_value);
    if (s.video_bitrate != 0) AddInt(text, "-s", s.video_bitrate);
    AddInt(text, "-o", s.rdo);
    AddInt(text, "-m", s.search_range);
    AddInt(text, "-t", s.thread_num);
    AddInt(text, "-l", s.loop_filter);
    // The float goes through double as a variadic argument: 29.97f prints as 29.969999.
    char rate[400];
    std::snprintf(rate, sizeof rate, " -n %f", static_cast<double>(s.frame_rate));
    text += rate;
    return text;
}

}  // namespace avs::frontend
