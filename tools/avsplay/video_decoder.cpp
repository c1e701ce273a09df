#include "tools/avsplay/video_decoder.h"

#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace avsplay {

VideoDecoder::VideoDecoder() {
    // Broken pictures are counted here; the library need not print them too.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_CAVS);
    if (codec == nullptr) throw std::runtime_error("FFmpeg has no AVS decoder");
    context_ = avcodec_alloc_context3(codec);
    parser_ = av_parser_init(AV_CODEC_ID_CAVS);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!context_ || !parser_ || !packet_ || !frame_ ||
        avcodec_open2(context_, codec, nullptr) < 0) {
        release();
        throw std::runtime_error("cannot start FFmpeg's AVS decoder");
    }
}

VideoDecoder::~VideoDecoder() {
    release();
}

void VideoDecoder::release() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    if (parser_) av_parser_close(parser_);
    parser_ = nullptr;
    avcodec_free_context(&context_);
}

void VideoDecoder::feed(const uint8_t* data, size_t size) {
    while (size > 0) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int used = av_parser_parse2(parser_, context_, &out, &out_size, data, chunk,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) {
            ++errors_;
            return;
        }
        data += used;
        size -= static_cast<size_t>(used);
        if (out_size > 0) {
            packet_->data = out;
            packet_->size = out_size;
            decode(packet_);
        }
    }
}

void VideoDecoder::finish() {
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(parser_, context_, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    if (out_size > 0) {
        packet_->data = out;
        packet_->size = out_size;
        decode(packet_);
    }
    decode(nullptr);
}

void VideoDecoder::decode(AVPacket* packet) {
    if (avcodec_send_packet(context_, packet) < 0) {
        ++errors_;
        return;
    }
    for (;;) {
        const int r = avcodec_receive_frame(context_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
        if (r < 0) {
            ++errors_;
            return;
        }
        ++pictures_;
        if (frame_->decode_error_flags != 0) ++errors_;
        av_frame_unref(frame_);
    }
}

}  // namespace avsplay
