// Reading one stream of a file on its own: a private demuxer that skips the other streams,
// and for audio a decoder that turns the stream into 16-bit interleaved PCM of a fixed
// channel count and rate, frame by frame. Each pin worker owns one, so no state is shared
// between threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

namespace avs::dshow::media {

class StreamReader {
  public:
    StreamReader() = default;
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    bool Open(const std::string& path, int stream_index);
    // The next packet of the stream (valid until the next call), or null at its end.
    const AVPacket* NextPacket();
    const AVStream* stream() const { return fmt_->streams[index_]; }

  private:
    FormatPtr fmt_;
    int index_ = -1;
    AVPacket* packet_ = nullptr;
};

class PcmDecoder {
  public:
    PcmDecoder() = default;
    ~PcmDecoder();
    PcmDecoder(const PcmDecoder&) = delete;
    PcmDecoder& operator=(const PcmDecoder&) = delete;

    // Output in `channels` channels at `rate` Hz; times in 100 ns from `origin`.
    bool Open(const std::string& path, int stream_index, unsigned channels, unsigned rate,
              std::int64_t origin);
    // Decodes the next piece of PCM into pcm(). False at the end of the stream.
    bool Next();
    const std::vector<std::uint8_t>& pcm() const { return pcm_; }
    std::int64_t start() const { return start_; }

  private:
    bool Convert(const AVFrame* f);  // null: what the resampler still holds
    bool MakeResampler(AVChannelLayout& out, AVChannelLayout& in, int format, int in_rate,
                       bool even_mix);
    bool NeedsConversion(const AVFrame* f) const;
    std::int64_t StartOf(const AVFrame* f) const;

    StreamReader reader_;
    AVCodecContext* decoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    unsigned channels_ = 0;
    unsigned rate_ = 0;
    std::int64_t origin_ = 0;
    bool draining_ = false;
    bool done_ = false;

    SwrContext* swr_ = nullptr;
    AVChannelLayout swr_in_layout_{};
    int swr_in_format_ = -1;
    int swr_in_rate_ = 0;

    std::vector<std::uint8_t> pcm_;
    std::int64_t start_ = 0;
    std::int64_t next_start_ = 0;  // for frames without a time stamp
};

}  // namespace avs::dshow::media
