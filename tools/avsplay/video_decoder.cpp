#include "tools/avsplay/video_decoder.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace avsplay {

// FFmpeg is loaded only when a run decodes: its libraries and their many
// dependencies would otherwise cost every start of the player tens of
// milliseconds.
struct Api {
    decltype(&av_log_set_level) log_set_level;
    decltype(&avcodec_find_decoder) find_decoder;
    decltype(&avcodec_alloc_context3) alloc_context;
    decltype(&avcodec_open2) open;
    decltype(&avcodec_free_context) free_context;
    decltype(&av_parser_init) parser_init;
    decltype(&av_parser_parse2) parser_parse;
    decltype(&av_parser_close) parser_close;
    decltype(&av_packet_alloc) packet_alloc;
    decltype(&av_packet_free) packet_free;
    decltype(&av_frame_alloc) frame_alloc;
    decltype(&av_frame_free) frame_free;
    decltype(&av_frame_unref) frame_unref;
    decltype(&avcodec_send_packet) send_packet;
    decltype(&avcodec_receive_frame) receive_frame;
};

namespace {

const Api* LoadApi() {
    static const Api* api = []() -> const Api* {
        const std::string codec = "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR);
        const std::string util = "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR);
        void* c = dlopen(codec.c_str(), RTLD_NOW | RTLD_LOCAL);
        void* u = dlopen(util.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (c == nullptr || u == nullptr) return nullptr;
        static Api a;
        bool ok = true;
        auto get = [&](void* lib, auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            ok = ok && fn != nullptr;
        };
        get(u, a.log_set_level, "av_log_set_level");
        get(c, a.find_decoder, "avcodec_find_decoder");
        get(c, a.alloc_context, "avcodec_alloc_context3");
        get(c, a.open, "avcodec_open2");
        get(c, a.free_context, "avcodec_free_context");
        get(c, a.parser_init, "av_parser_init");
        get(c, a.parser_parse, "av_parser_parse2");
        get(c, a.parser_close, "av_parser_close");
        get(c, a.packet_alloc, "av_packet_alloc");
        get(c, a.packet_free, "av_packet_free");
        get(u, a.frame_alloc, "av_frame_alloc");
        get(u, a.frame_free, "av_frame_free");
        get(u, a.frame_unref, "av_frame_unref");
        get(c, a.send_packet, "avcodec_send_packet");
        get(c, a.receive_frame, "avcodec_receive_frame");
        return ok ? &a : nullptr;
    }();
    return api;
}

}  // namespace

VideoDecoder::VideoDecoder() {
    // Broken pictures are counted here; the library need not print them too.
    api_ = LoadApi();
    if (api_ == nullptr) throw std::runtime_error("cannot load FFmpeg's libavcodec for --decode");
    api_->log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = api_->find_decoder(AV_CODEC_ID_CAVS);
    if (codec == nullptr) throw std::runtime_error("FFmpeg has no AVS decoder");
    context_ = api_->alloc_context(codec);
    parser_ = api_->parser_init(AV_CODEC_ID_CAVS);
    packet_ = api_->packet_alloc();
    frame_ = api_->frame_alloc();
    if (!context_ || !parser_ || !packet_ || !frame_ || api_->open(context_, codec, nullptr) < 0) {
        Release();
        throw std::runtime_error("cannot start FFmpeg's AVS decoder");
    }
}

VideoDecoder::~VideoDecoder() {
    Release();
}

void VideoDecoder::Release() {
    if (api_ == nullptr) return;
    api_->frame_free(&frame_);
    api_->packet_free(&packet_);
    if (parser_) api_->parser_close(parser_);
    parser_ = nullptr;
    api_->free_context(&context_);
}

void VideoDecoder::Feed(const uint8_t* data, size_t size) {
    while (size > 0) {
        uint8_t* out = nullptr;
        int out_size = 0;
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int used = api_->parser_parse(parser_, context_, &out, &out_size, data, chunk,
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
            Decode(packet_);
        }
    }
}

void VideoDecoder::Finish() {
    uint8_t* out = nullptr;
    int out_size = 0;
    api_->parser_parse(parser_, context_, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE,
                       AV_NOPTS_VALUE, 0);
    if (out_size > 0) {
        packet_->data = out;
        packet_->size = out_size;
        Decode(packet_);
    }
    Decode(nullptr);
}

void VideoDecoder::Decode(AVPacket* packet) {
    if (api_->send_packet(context_, packet) < 0) {
        ++errors_;
        return;
    }
    for (;;) {
        const int r = api_->receive_frame(context_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
        if (r < 0) {
            ++errors_;
            return;
        }
        ++pictures_;
        if (frame_->decode_error_flags != 0) ++errors_;
        api_->frame_unref(frame_);
    }
}

}  // namespace avsplay
