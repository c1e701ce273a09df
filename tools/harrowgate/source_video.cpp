#include "tools/harrowgate/source_video.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace harrowgate {
namespace {

std::string ErrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

struct SourceVideo::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* scaler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* decoded = nullptr;
    int stream_index = -1;
    int out_width = 0;
    int out_height = 0;
    int frame_width = 0;
    int frame_height = 0;
    bool input_done = false;
    bool decoder_drained = false;
    int64_t first_pts = AV_NOPTS_VALUE;
    int64_t last_time_ms = -1;
    double fps = 25.0;

    ~State() {
        sws_freeContext(scaler);
        av_frame_free(&decoded);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }
};

SourceVideo::SourceVideo(const std::string& path) : state_(std::make_unique<State>()) {
    av_log_set_level(AV_LOG_QUIET);
    State& s = *state_;
    int rc = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr);
    if (rc < 0) throw SourceError("cannot open source \"" + path + "\": " + ErrorText(rc));
    rc = avformat_find_stream_info(s.format, nullptr);
    if (rc < 0) throw SourceError("cannot read source \"" + path + "\": " + ErrorText(rc));
    const AVCodec* codec = nullptr;
    s.stream_index = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (s.stream_index < 0 || codec == nullptr)
        throw SourceError("source \"" + path + "\" has no video stream that can be decoded");
    AVStream* stream = s.format->streams[s.stream_index];
    s.decoder = avcodec_alloc_context3(codec);
    if (s.decoder == nullptr) throw SourceError("out of memory");
    avcodec_parameters_to_context(s.decoder, stream->codecpar);
    rc = avcodec_open2(s.decoder, codec, nullptr);
    if (rc < 0) throw SourceError("cannot decode the video of \"" + path + "\": " + ErrorText(rc));
    if (s.decoder->width <= 0 || s.decoder->height <= 0)
        throw SourceError("source \"" + path + "\" has a video stream without a picture size");
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) s.fps = av_q2d(rate);
    s.packet = av_packet_alloc();
    s.decoded = av_frame_alloc();
    if (s.packet == nullptr || s.decoded == nullptr) throw SourceError("out of memory");
    s.out_width = s.decoder->width;
    s.out_height = s.decoder->height;
    s.frame_width = s.out_width;
    s.frame_height = s.out_height;
}

SourceVideo::~SourceVideo() = default;

int SourceVideo::Width() const {
    return state_->decoder->width;
}
int SourceVideo::Height() const {
    return state_->decoder->height;
}
double SourceVideo::FrameRate() const {
    return state_->fps;
}

int64_t SourceVideo::ExpectedFrames() const {
    const AVStream* stream = state_->format->streams[state_->stream_index];
    if (stream->nb_frames > 0) return stream->nb_frames;
    double seconds = 0;
    if (stream->duration > 0)
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (state_->format->duration > 0)
        seconds = static_cast<double>(state_->format->duration) / AV_TIME_BASE;
    return static_cast<int64_t>(std::llround(seconds * state_->fps));
}

void SourceVideo::SetOutputSize(int width, int height, int frame_width, int frame_height) {
    state_->out_width = width;
    state_->out_height = height;
    state_->frame_width = std::max(width, frame_width);
    state_->frame_height = std::max(height, frame_height);
}

bool SourceVideo::Next(Frame& frame, int64_t& time_ms) {
    State& s = *state_;
    int failures = 0;
    for (;;) {
        int rc = avcodec_receive_frame(s.decoder, s.decoded);
        if (rc == 0) break;
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            // A picture that failed to decode is passed over; only a decoder that fails
            // without end ends the stream.
            if (++failures > 1000) return false;
            continue;
        }
        if (s.input_done) {
            // EAGAIN after draining started should not happen; stop rather than spin.
            if (s.decoder_drained) return false;
            s.decoder_drained = true;
            avcodec_send_packet(s.decoder, nullptr);
            continue;
        }
        rc = av_read_frame(s.format, s.packet);
        if (rc < 0) {
            s.input_done = true;
            s.decoder_drained = true;
            avcodec_send_packet(s.decoder, nullptr);
            continue;
        }
        if (s.packet->stream_index == s.stream_index) {
            // A damaged packet is passed over; the decoder resynchronises on later ones.
            avcodec_send_packet(s.decoder, s.packet);
        }
        av_packet_unref(s.packet);
    }

    AVFrame* picture = s.decoded;
    s.scaler = sws_getCachedContext(
        s.scaler, picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
        s.out_width, s.out_height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (s.scaler == nullptr) {
        av_frame_unref(picture);
        throw SourceError("cannot convert the source's pictures");
    }
    frame.Resize(s.frame_width, s.frame_height);
    uint8_t* planes[4] = {frame.luma.samples.data(), frame.cb.samples.data(),
                          frame.cr.samples.data(), nullptr};
    int strides[4] = {frame.luma.width, frame.cb.width, frame.cr.width, 0};
    sws_scale(s.scaler, picture->data, picture->linesize, 0, picture->height, planes, strides);
    ExtendFrameEdges(frame, s.out_width, s.out_height);

    const AVStream* stream = s.format->streams[s.stream_index];
    const int64_t pts = picture->best_effort_timestamp;
    int64_t ms;
    if (pts == AV_NOPTS_VALUE) {
        ms = s.last_time_ms < 0 ? 0 : s.last_time_ms + std::llround(1000.0 / s.fps);
    } else {
        // Times count from the start of the whole file, not of the video, so a video that
        // starts after the sound keeps its place against it.
        if (s.first_pts == AV_NOPTS_VALUE) {
            s.first_pts = pts;
            if (s.format->start_time != AV_NOPTS_VALUE) {
                const int64_t start =
                    av_rescale_q(s.format->start_time, AV_TIME_BASE_Q, stream->time_base);
                if (start <= pts) s.first_pts = start;
            }
        }
        ms = av_rescale_q(pts - s.first_pts, stream->time_base, AVRational{1, 1000});
    }
    // Coding order is display order here, so time stamps must not go backwards.
    if (ms <= s.last_time_ms) ms = s.last_time_ms + 1;
    s.last_time_ms = ms;
    time_ms = ms;
    av_frame_unref(picture);
    return true;
}

}  // namespace harrowgate
