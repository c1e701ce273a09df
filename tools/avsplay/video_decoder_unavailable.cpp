// The decoder of a build without FFmpeg (Windows): --decode is refused with a reason.
#include <stdexcept>

#include "tools/avsplay/video_decoder.h"

namespace avsplay {

struct Api {};

VideoDecoder::VideoDecoder() {
    throw std::runtime_error("--decode needs FFmpeg, which this build does not carry");
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::Feed(const uint8_t*, size_t) {}

void VideoDecoder::Finish() {}

void VideoDecoder::Decode(AVPacket*) {}

void VideoDecoder::Release() {}

}  // namespace avsplay
