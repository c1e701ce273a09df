#include "pcm_decoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cstring>

namespace avs::dshow::media {

// ---------------------------------------------------------------- StreamReader

StreamReader::~StreamReader() {
    av_packet_free(&packet_);
}

bool StreamReader::Open(const std::string& path, int stream_index) {
    if (FAILED(OpenMediaFile(path, fmt_))) return false;
    if (stream_index < 0 || static_cast<unsigned>(stream_index) >= fmt_->nb_streams) return false;
    index_ = stream_index;
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != index_) fmt_->streams[i]->discard = AVDISCARD_ALL;
    packet_ = av_packet_alloc();
    return packet_ != nullptr;
}

const AVPacket* StreamReader::NextPacket() {
    av_packet_unref(packet_);
    while (av_read_frame(fmt_.get(), packet_) >= 0) {
        if (packet_->stream_index == index_) return packet_;
        av_packet_unref(packet_);
    }
    return nullptr;
}

// ---------------------------------------------------------------- PcmDecoder

PcmDecoder::~PcmDecoder() {
    swr_free(&swr_);
    av_channel_layout_uninit(&swr_in_layout_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
}

bool PcmDecoder::Open(const std::string& path, int stream_index, unsigned channels, unsigned rate,
                      std::int64_t origin) {
    if (!reader_.Open(path, stream_index)) return false;
    channels_ = channels;
    rate_ = rate;
    origin_ = origin;
    const AVCodecParameters* par = reader_.stream()->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) return false;
    decoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    return decoder_ != nullptr && frame_ != nullptr &&
           avcodec_parameters_to_context(decoder_, par) >= 0 &&
           avcodec_open2(decoder_, codec, nullptr) >= 0;
}

bool PcmDecoder::NeedsConversion(const AVFrame* f) const {
    return f->format != AV_SAMPLE_FMT_S16 || f->sample_rate != static_cast<int>(rate_) ||
           f->ch_layout.nb_channels != static_cast<int>(channels_);
}

std::int64_t PcmDecoder::StartOf(const AVFrame* f) const {
    const std::int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return next_start_;
    return ReferenceTime(pts, reader_.stream()->time_base, origin_);
}

bool PcmDecoder::MakeResampler(AVChannelLayout& out, AVChannelLayout& in, int format, int in_rate,
                               bool even_mix) {
    swr_free(&swr_);
    if (swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, static_cast<int>(rate_), &in,
                            static_cast<AVSampleFormat>(format), in_rate, 0, nullptr) < 0) {
        swr_free(&swr_);
        return false;
    }
    if (even_mix) {
        // Input channel i goes to output channel i mod n, each output the mean of its inputs.
        const int n_out = out.nb_channels;
        const int n_in = in.nb_channels;
        std::vector<double> matrix(static_cast<std::size_t>(n_out) * n_in, 0.0);
        for (int o = 0; o < n_out; ++o) {
            const int share = (n_in - o + n_out - 1) / n_out;
            for (int i = o; i < n_in; i += n_out)
                matrix[static_cast<std::size_t>(o) * n_in + i] = 1.0 / share;
        }
        if (swr_set_matrix(swr_, matrix.data(), n_in) < 0) {
            swr_free(&swr_);
            return false;
        }
    }
    if (swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    return true;
}

bool PcmDecoder::Convert(const AVFrame* f) {
    if (f != nullptr &&
        (swr_ == nullptr || f->format != swr_in_format_ || f->sample_rate != swr_in_rate_ ||
         av_channel_layout_compare(&f->ch_layout, &swr_in_layout_) != 0)) {
        swr_free(&swr_);
        av_channel_layout_uninit(&swr_in_layout_);
        AVChannelLayout in{}, out{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&in, f->ch_layout.nb_channels);
        else if (av_channel_layout_copy(&in, &f->ch_layout) < 0)
            return false;
        // The connected channel count stays; only the samples' form and rate change. More
        // channels than connected are mixed down with FFmpeg's standard matrix.
        if (in.nb_channels == static_cast<int>(channels_))
            av_channel_layout_copy(&out, &in);
        else
            av_channel_layout_default(&out, static_cast<int>(channels_));
        bool made = MakeResampler(out, in, f->format, f->sample_rate, false);
        // Channels without a known position have no standard matrix; an even mix keeps
        // their sound.
        if (!made && in.nb_channels > static_cast<int>(channels_))
            made = MakeResampler(out, in, f->format, f->sample_rate, true);
        av_channel_layout_uninit(&out);
        if (!made) {
            av_channel_layout_uninit(&in);
            return false;
        }
        swr_in_layout_ = in;
        swr_in_format_ = f->format;
        swr_in_rate_ = f->sample_rate;
    }
    pcm_.clear();
    if (swr_ == nullptr) return true;
    const int in_count = f != nullptr ? f->nb_samples : 0;
    const int capacity = swr_get_out_samples(swr_, in_count);
    if (capacity <= 0) return true;
    pcm_.resize(static_cast<std::size_t>(capacity) * channels_ * 2);
    std::uint8_t* out_planes[] = {pcm_.data()};
    const int frames = swr_convert(
        swr_, out_planes, capacity,
        f != nullptr ? const_cast<const std::uint8_t**>(f->extended_data) : nullptr, in_count);
    pcm_.resize(frames > 0 ? static_cast<std::size_t>(frames) * channels_ * 2 : 0);
    return frames >= 0;
}

bool PcmDecoder::Next() {
    while (!done_) {
        const int got = avcodec_receive_frame(decoder_, frame_);
        if (got == 0) {
            start_ = StartOf(frame_);
            bool ok;
            if (NeedsConversion(frame_) || swr_ != nullptr) {
                ok = Convert(frame_);
            } else {
                const std::size_t bytes =
                    static_cast<std::size_t>(frame_->nb_samples) * channels_ * 2;
                pcm_.assign(frame_->data[0], frame_->data[0] + bytes);
                ok = true;
            }
            av_frame_unref(frame_);
            if (!ok || pcm_.empty()) continue;  // a frame that cannot be converted is skipped
            next_start_ =
                start_ + av_rescale(static_cast<std::int64_t>(pcm_.size() / (channels_ * 2)),
                                    10'000'000, rate_);
            return true;
        }
        // A decoding error loses that packet's sound only: the next packet goes on.
        if (got != AVERROR_EOF && !draining_) {
            const AVPacket* packet = reader_.NextPacket();
            if (packet == nullptr) {
                draining_ = true;
                avcodec_send_packet(decoder_, nullptr);
            } else {
                avcodec_send_packet(decoder_, packet);  // a damaged packet is skipped
            }
            continue;
        }
        // End of the stream: what the resampler still holds.
        done_ = true;
        if (swr_ != nullptr && Convert(nullptr) && !pcm_.empty()) {
            start_ = next_start_;
            return true;
        }
    }
    return false;
}

}  // namespace avs::dshow::media
