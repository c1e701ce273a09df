// The MP3 encoder as the per-sample engine sees it: chunks of 16-bit PCM in, MP3 bytes out.
#pragma once

#include <cstdint>

#include "mp3encoder/lame_library.h"

namespace quenby {

class ChunkEncoder {
  public:
    virtual ~ChunkEncoder() = default;
    // Encodes `count` interleaved samples. Returns the encoder's result, 0 on success.
    virtual unsigned long Encode(std::uint32_t count, short* samples, unsigned char* out,
                                 std::uint32_t* written) = 0;
    // Ends the stream and hands out its last MP3 bytes.
    virtual unsigned long Flush(unsigned char* out, std::uint32_t* written) = 0;
    // Releases the encoder stream; further calls fail.
    virtual void Close() = 0;
};

// A stream of the loaded lame_enc module.
class BladeChunkEncoder : public ChunkEncoder {
  public:
    BladeChunkEncoder(const LameLibrary& lame, HBE_STREAM stream) : lame_(lame), stream_(stream) {}
    ~BladeChunkEncoder() override { Close(); }

    unsigned long Encode(std::uint32_t count, short* samples, unsigned char* out,
                         std::uint32_t* written) override {
        return lame_.encode_chunk(stream_, count, samples, out, written);
    }
    unsigned long Flush(unsigned char* out, std::uint32_t* written) override {
        return lame_.deinit_stream(stream_, out, written);
    }
    void Close() override {
        if (open_) lame_.close_stream(stream_);
        open_ = false;
    }

  private:
    const LameLibrary& lame_;
    HBE_STREAM stream_;
    bool open_ = true;
};

}  // namespace quenby
