#include "ffmpeg_source_inspector.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "ffmpeg_audio_graph.h"

namespace quenby {
namespace {

// Result codes in the form the listing prints them.
constexpr std::uint32_t kFileNotFound = 0x80070002;
constexpr std::uint32_t kFail = 0x80004005;

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

bool IsListed(const AVStream* st) {
    const AVMediaType type = st->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) return true;
    // A cover picture is stored as a video stream but is not video.
    return type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

double SecondsOf(const AVStream* st, const AVFormatContext* fmt) {
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return static_cast<double>(st->duration) * av_q2d(st->time_base);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return static_cast<double>(fmt->duration) / AV_TIME_BASE;
    return 0;
}

// Four-character compression code as a video-info header would carry it.
std::uint32_t CompressionCode(const AVCodecParameters* par) {
    if (par->codec_tag != 0) return par->codec_tag;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, par->codec_id);
}

int BitCount(const AVCodecParameters* par) {
    if (par->bits_per_coded_sample > 0) return par->bits_per_coded_sample;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    if (d != nullptr) return av_get_bits_per_pixel(d);
    return 24;
}

}  // namespace

FfmpegSourceInspector::FfmpegSourceInspector() {
    SilenceFfmpegLog();
}

SourceInspection FfmpegSourceInspector::Inspect(const std::string& path, FILE* console) {
    SourceInspection result;
    AVFormatContext* raw = nullptr;
    const int open = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (open < 0) {
        std::fprintf(console, "put_Filename(): res=0x%08x\n",
                     open == AVERROR(ENOENT) ? kFileNotFound : kFail);
        return result;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) {
        std::fprintf(console, "get_OutputStreams(): res=0x%08x\n", kFail);
        return result;
    }
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        result.media_length = static_cast<double>(fmt->duration) / AV_TIME_BASE;

    const AVStream* video = nullptr;
    int index = 0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (!IsListed(st)) continue;
        const bool is_video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (result.media_length == 0) result.media_length = SecondsOf(st, fmt.get());
        std::fprintf(console, "[%2d] majortype: %s %c\n", index++,
                     is_video ? "MEDIATYPE_Video" : "MEDIATYPE_Audio", is_video ? '*' : ' ');
        std::fprintf(console, "     formattype: %s\n",
                     is_video ? "FORMAT_VideoInfo" : "FORMAT_WaveFormatEx");
        if (is_video) {
            const std::uint32_t code = CompressionCode(st->codecpar);
            char fourcc[5] = {0};
            std::memcpy(fourcc, &code, 4);
            std::fprintf(console, "     (%dx%dx%d '%4.4s')\n", st->codecpar->width,
                         st->codecpar->height, BitCount(st->codecpar), fourcc);
            video = st;
        }
    }
    if (video == nullptr) {
        std::fprintf(console, "No video stream found!\n");
        return result;
    }
    result.has_video = true;
    result.video_length = SecondsOf(video, fmt.get());
    AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
    const double fps = rate.den != 0 ? av_q2d(rate) : 0;
    std::fprintf(console,
                 "Length of Video: %gs\r\nAuthored Frame Rate: %gfps\r\n(%d frames of %dx%dx%d)\n",
                 result.video_length, fps, static_cast<int>(result.video_length * fps),
                 video->codecpar->width, video->codecpar->height, BitCount(video->codecpar));
    return result;
}

}  // namespace quenby
