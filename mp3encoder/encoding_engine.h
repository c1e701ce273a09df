// The per-sample work of a run: PCM media samples in, MP3 bytes into the output file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "mp3encoder/audio_source.h"
#include "mp3encoder/chunk_encoder.h"

namespace quenby {

struct EngineParams {
    unsigned source_channels = 2;
    unsigned source_rate = 44100;
    int encoder_channels = 2;             // 1 in mono mode, else 2
    std::uint32_t samples_per_chunk = 0;  // from the encoder: most samples one call takes
    std::uint32_t mp3_buffer_size = 0;    // from the encoder
    float gain = 1.0f;
    double progress_length = 0;  // seconds the progress line is measured against
};

// Collects PCM into encoder-sized chunks, encodes them and writes the MP3 bytes.
//
// The encoder takes the source's channels as they are when the counts match; otherwise each
// frame is mapped: the first channel alone in mono mode, a one-channel source doubled into
// both channels, the first two channels of a source with more than two.
// Before the first sample, silence as long as that sample's start time is put in, so the audio
// stays in step with a video that starts earlier.
class EncodingEngine : public PcmSampleSink {
  public:
    EncodingEngine(const EngineParams& params, ChunkEncoder& encoder, FILE* mp3, FILE* console);

    int OnSample(const std::uint8_t* data, std::size_t size, std::int64_t start_time,
                 std::int64_t stop_time) override;

    // Encodes what is left in the chunk buffer and the encoder's last frames. False when the
    // run failed at any point.
    bool Finish();

    bool Failed() const { return encode_failed_ || write_failed_; }
    bool WriteFailed() const { return write_failed_; }
    // Sample frames of the source's audio taken so far, silence put in before it not counted.
    std::uint64_t SourceFrames() const { return source_frames_; }
    // Size in bytes of one full chunk of encoder input.
    std::size_t ChunkBytes() const { return chunk_bytes_; }

  private:
    void InsertSilence(std::uint64_t frames);
    void AddFrames(const std::uint8_t* src, std::size_t frames);
    void ApplyGain(std::int16_t* samples, std::size_t count) const;
    bool EncodeChunk(std::size_t bytes);
    void WriteMp3(std::uint32_t size);

    EngineParams params_;
    ChunkEncoder& encoder_;
    FILE* mp3_;
    FILE* console_;

    std::size_t source_frame_bytes_;
    std::size_t encoder_frame_bytes_;
    std::size_t chunk_bytes_;
    std::vector<std::int16_t> chunk_;    // encoder input collected for the next call
    std::size_t fill_ = 0;               // bytes in chunk_
    std::vector<std::uint8_t> pending_;  // part of a source frame split across samples
    std::vector<unsigned char> mp3_buffer_;
    std::uint64_t source_frames_ = 0;
    bool first_sample_ = true;
    bool encode_failed_ = false;
    bool write_failed_ = false;
};

}  // namespace quenby
