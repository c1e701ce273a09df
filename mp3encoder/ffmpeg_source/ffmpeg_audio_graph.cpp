#include "ffmpeg_audio_graph.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <vector>

namespace quenby {
namespace {

constexpr AVRational kHundredNs{1, 10'000'000};

}  // namespace

void SilenceFfmpegLog() {
    av_log_set_level(AV_LOG_QUIET);
}

struct FfmpegAudioGraph::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    int stream_index = -1;
    PcmFormat pcm;
    std::int64_t origin = 0;  // earliest start of any stream, 100 ns units

    // Conversion to the connected format, made when a frame does not already match it.
    SwrContext* swr = nullptr;
    AVChannelLayout swr_in_layout{};
    int swr_in_format = -1;
    int swr_in_rate = 0;
    std::vector<std::uint8_t> converted;

    std::int64_t next_start = 0;  // for frames without a time stamp

    ~State() {
        swr_free(&swr);
        av_channel_layout_uninit(&swr_in_layout);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    bool OpenDecoder(const AVStream* st) {
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (codec == nullptr) return false;
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        if (ctx == nullptr) return false;
        if (avcodec_parameters_to_context(ctx, st->codecpar) < 0 ||
            avcodec_open2(ctx, codec, nullptr) < 0 || ctx->sample_rate <= 0 ||
            ctx->ch_layout.nb_channels <= 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        decoder = ctx;
        pcm.channels = static_cast<unsigned>(ctx->ch_layout.nb_channels);
        pcm.sample_rate = static_cast<unsigned>(ctx->sample_rate);
        return true;
    }

    bool NeedsConversion(const AVFrame* f) const {
        return f->format != AV_SAMPLE_FMT_S16 ||
               f->sample_rate != static_cast<int>(pcm.sample_rate) ||
               f->ch_layout.nb_channels != static_cast<int>(pcm.channels);
    }

    // Converts `f` (or, with null, what the resampler still holds) to the connected format.
    // Returns the number of frames now in `converted`, or -1.
    int Convert(const AVFrame* f) {
        if (f != nullptr &&
            (swr == nullptr || f->format != swr_in_format || f->sample_rate != swr_in_rate ||
             av_channel_layout_compare(&f->ch_layout, &swr_in_layout) != 0)) {
            swr_free(&swr);
            av_channel_layout_uninit(&swr_in_layout);
            AVChannelLayout in{}, out{};
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&in, f->ch_layout.nb_channels);
            else if (av_channel_layout_copy(&in, &f->ch_layout) < 0)
                return -1;
            // The connected channel count stays; only the samples' form and rate change.
            if (in.nb_channels == static_cast<int>(pcm.channels))
                av_channel_layout_copy(&out, &in);
            else
                av_channel_layout_default(&out, static_cast<int>(pcm.channels));
            const int made = swr_alloc_set_opts2(
                &swr, &out, AV_SAMPLE_FMT_S16, static_cast<int>(pcm.sample_rate), &in,
                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
            av_channel_layout_uninit(&out);
            if (made < 0 || swr_init(swr) < 0) {
                av_channel_layout_uninit(&in);
                swr_free(&swr);
                return -1;
            }
            swr_in_layout = in;
            swr_in_format = f->format;
            swr_in_rate = f->sample_rate;
        }
        if (swr == nullptr) return 0;
        const int in_count = f != nullptr ? f->nb_samples : 0;
        const int capacity = swr_get_out_samples(swr, in_count);
        if (capacity <= 0) return 0;
        converted.resize(static_cast<std::size_t>(capacity) * pcm.channels * 2);
        std::uint8_t* out_planes[] = {converted.data()};
        return swr_convert(
            swr, out_planes, capacity,
            f != nullptr ? const_cast<const std::uint8_t**>(f->extended_data) : nullptr, in_count);
    }

    std::int64_t StartOf(const AVFrame* f) {
        const std::int64_t pts = f->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) return next_start;
        return av_rescale_q(pts, format->streams[stream_index]->time_base, kHundredNs) - origin;
    }

    // Hands one decoded frame to the sink. Returns the sink's result.
    int Deliver(const AVFrame* f, PcmSampleSink& sink) {
        const std::int64_t start = StartOf(f);
        const std::uint8_t* data;
        int frames;
        if (NeedsConversion(f) || swr != nullptr) {
            frames = Convert(f);
            if (frames < 0) return 0;  // a frame that cannot be converted is skipped
            data = converted.data();
        } else {
            frames = f->nb_samples;
            data = f->data[0];
        }
        const std::int64_t length = av_rescale(frames, 10'000'000, pcm.sample_rate);
        next_start = start + length;
        if (frames == 0) return 0;
        return sink.OnSample(data, static_cast<std::size_t>(frames) * pcm.channels * 2, start,
                             start + length);
    }

    // Sends one packet (null: end of stream) and delivers every frame it yields. False when the
    // sink wants no more.
    bool Decode(const AVPacket* packet, AVFrame* frame, PcmSampleSink& sink) {
        if (avcodec_send_packet(decoder, packet) < 0 && packet != nullptr)
            return true;  // damaged packet: skip it, as a decoder filter would
        for (;;) {
            const int got = avcodec_receive_frame(decoder, frame);
            if (got < 0) return true;
            const int r = Deliver(frame, sink);
            av_frame_unref(frame);
            if (r < 0) return false;
        }
    }
};

FfmpegAudioGraph::FfmpegAudioGraph() {
    SilenceFfmpegLog();
}
FfmpegAudioGraph::~FfmpegAudioGraph() = default;

GraphBuildResult FfmpegAudioGraph::Build(const std::string& path) {
    state_ = std::make_unique<State>();
    State& s = *state_;
    if (avformat_open_input(&s.format, path.c_str(), nullptr, nullptr) < 0)
        return GraphBuildResult::kSourceNotFound;
    if (avformat_find_stream_info(s.format, nullptr) < 0) return GraphBuildResult::kSourceNotFound;
    // Outputs are tried in the file's stream order; the first audio stream that decodes wins.
    for (unsigned i = 0; i < s.format->nb_streams; ++i) {
        const AVStream* st = s.format->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if (s.OpenDecoder(st)) {
            s.stream_index = static_cast<int>(i);
            break;
        }
    }
    if (s.stream_index < 0) return GraphBuildResult::kNotConnected;
    if (s.format->start_time != AV_NOPTS_VALUE)
        s.origin = av_rescale_q(s.format->start_time, AV_TIME_BASE_Q, kHundredNs);
    for (unsigned i = 0; i < s.format->nb_streams; ++i)
        if (static_cast<int>(i) != s.stream_index) s.format->streams[i]->discard = AVDISCARD_ALL;
    return GraphBuildResult::kOk;
}

PcmFormat FfmpegAudioGraph::ConnectedFormat() const {
    return state_ ? state_->pcm : PcmFormat{};
}

bool FfmpegAudioGraph::RunToCompletion(PcmSampleSink& sink) {
    if (!state_ || state_->decoder == nullptr) return false;
    State& s = *state_;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (packet == nullptr || frame == nullptr) {
        av_packet_free(&packet);
        av_frame_free(&frame);
        return false;
    }
    bool more = true;
    while (more && av_read_frame(s.format, packet) >= 0) {
        if (packet->stream_index == s.stream_index) more = s.Decode(packet, frame, sink);
        av_packet_unref(packet);
    }
    if (more) more = s.Decode(nullptr, frame, sink);
    // What the resampler still holds after a change of rate.
    if (more && s.swr != nullptr) {
        const int frames = s.Convert(nullptr);
        if (frames > 0) {
            const std::int64_t length = av_rescale(frames, 10'000'000, s.pcm.sample_rate);
            sink.OnSample(s.converted.data(), static_cast<std::size_t>(frames) * s.pcm.channels * 2,
                          s.next_start, s.next_start + length);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    return true;
}

}  // namespace quenby
