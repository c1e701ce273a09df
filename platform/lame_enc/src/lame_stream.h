// One encoding stream: a libmp3lame encoder configured from a BE_CONFIG record.
#pragma once

#include <lame/lame.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "lame_enc/blade_enc.h"

namespace lame_enc {

class LameStream {
  public:
    // Configures an encoder from the record. On success `stream` holds it.
    static BE_ERR Open(const BE_CONFIG& config, std::unique_ptr<LameStream>& stream);
    ~LameStream();
    LameStream(const LameStream&) = delete;
    LameStream& operator=(const LameStream&) = delete;

    // Most 16-bit samples (all channels together) one Encode call takes.
    std::uint32_t SamplesPerChunk() const { return samples_per_chunk_; }
    // Bytes the caller's output buffer must hold for any Encode or Flush call.
    std::uint32_t BufferSize() const { return buffer_size_; }

    // Encodes `count` interleaved samples; `count` must not exceed samples_per_chunk().
    BE_ERR Encode(std::uint32_t count, const short* samples, unsigned char* out,
                  std::uint32_t* written);
    // Ends the stream: the last frames go to `out`. Afterwards tag_frame() holds the finished
    // VBR/Info header frame when the record asked for one.
    BE_ERR Flush(unsigned char* out, std::uint32_t* written);

    const std::vector<unsigned char>& TagFrame() const { return tag_frame_; }
    bool WritesTag() const { return writes_tag_; }
    bool Flushed() const { return flushed_; }

  private:
    explicit LameStream(lame_global_flags* gfp) : gfp_(gfp) {}

    lame_global_flags* gfp_;
    int channels_ = 2;
    std::uint32_t samples_per_chunk_ = 0;
    std::uint32_t buffer_size_ = 0;
    bool writes_tag_ = false;
    bool flushed_ = false;
    std::vector<unsigned char> tag_frame_;
};

}  // namespace lame_enc
