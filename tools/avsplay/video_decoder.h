// Decodes delivered AVS video with FFmpeg's AVS decoder, counting pictures and
// errors, so a run can show that what the filters delivered is decodable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVPacket;
struct AVFrame;

namespace avsplay {

struct Api;

class VideoDecoder {
  public:
    // Throws std::runtime_error when the decoder is not available.
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Bytes in delivery order; pictures are cut out of them by FFmpeg's parser.
    void Feed(const uint8_t* data, size_t size);
    // Drains the parser and the decoder.
    void Finish();

    uint64_t Pictures() const { return pictures_; }
    uint64_t Errors() const { return errors_; }

  private:
    void Decode(AVPacket* packet);
    void Release();

    const Api* api_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    uint64_t pictures_ = 0;
    uint64_t errors_ = 0;
};

}  // namespace avsplay
