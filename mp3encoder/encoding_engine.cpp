#include "mp3encoder/encoding_engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "mp3encoder/progress_line.h"

namespace quenby {

// PCM arrives little-endian and is handed to the encoder as native 16-bit samples.
static_assert(std::endian::native == std::endian::little, "PCM byte order is little-endian");

namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;

// Sample frames covering `start_time` 100 ns units at `rate`, truncated; split so that the
// product cannot overflow for any start time.
std::uint64_t FramesBefore(std::int64_t start_time, unsigned rate) {
    const auto t = static_cast<std::uint64_t>(start_time);
    return t / kUnitsPerSecond * rate + t % kUnitsPerSecond * rate / kUnitsPerSecond;
}

}  // namespace

EncodingEngine::EncodingEngine(const EngineParams& params, ChunkEncoder& encoder, FILE* mp3,
                               FILE* console)
    : params_(params), encoder_(encoder), mp3_(mp3), console_(console) {
    source_frame_bytes_ = std::max(1u, params_.source_channels) * 2;
    encoder_frame_bytes_ = static_cast<std::size_t>(params_.encoder_channels) * 2;
    // One-channel sources fill half the samples per chunk in each call; either way a chunk
    // never holds more samples than the encoder takes at once.
    std::size_t bytes = params_.source_channels > 1 ? params_.samples_per_chunk * std::size_t{2}
                                                    : params_.samples_per_chunk;
    bytes -= bytes % encoder_frame_bytes_;
    chunk_bytes_ = std::max(bytes, encoder_frame_bytes_);
    chunk_.assign(chunk_bytes_ / 2, 0);
    mp3_buffer_.assign(params_.mp3_buffer_size, 0);
}

int EncodingEngine::OnSample(const std::uint8_t* data, std::size_t size, std::int64_t start_time,
                             std::int64_t /*stop_time*/) {
    if (Failed()) return -1;
    if (first_sample_) {
        first_sample_ = false;
        if (start_time > 0) InsertSilence(FramesBefore(start_time, params_.source_rate));
    }
    if (data != nullptr && size > 0 && !Failed()) {
        // Complete a frame split across samples first.
        if (!pending_.empty()) {
            const std::size_t need = std::min(source_frame_bytes_ - pending_.size(), size);
            pending_.insert(pending_.end(), data, data + need);
            data += need;
            size -= need;
            if (pending_.size() == source_frame_bytes_) {
                AddFrames(pending_.data(), 1);
                pending_.clear();
            }
        }
        const std::size_t frames = size / source_frame_bytes_;
        AddFrames(data, frames);
        const std::size_t used = frames * source_frame_bytes_;
        pending_.insert(pending_.end(), data + used, data + size);
    }
    if (Failed()) return -1;
    WriteProgressBlock(console_, ProgressPercent(start_time, params_.progress_length));
    return 0;
}

void EncodingEngine::InsertSilence(std::uint64_t frames) {
    std::uint64_t bytes = frames * encoder_frame_bytes_;
    auto* chunk = reinterpret_cast<std::uint8_t*>(chunk_.data());
    while (bytes >= chunk_bytes_ - fill_) {
        const std::size_t space = chunk_bytes_ - fill_;
        std::memset(chunk + fill_, 0, space);
        bytes -= space;
        fill_ = 0;
        if (!EncodeChunk(chunk_bytes_)) return;
    }
    std::memset(chunk + fill_, 0, static_cast<std::size_t>(bytes));
    fill_ += static_cast<std::size_t>(bytes);
}

void EncodingEngine::AddFrames(const std::uint8_t* src, std::size_t frames) {
    const unsigned in_channels = std::max(1u, params_.source_channels);
    const auto out_channels = static_cast<unsigned>(params_.encoder_channels);
    source_frames_ += frames;
    while (frames > 0 && !Failed()) {
        const std::size_t take = std::min(frames, (chunk_bytes_ - fill_) / encoder_frame_bytes_);
        std::int16_t* dst = chunk_.data() + fill_ / 2;
        if (in_channels == out_channels) {
            std::memcpy(dst, src, take * source_frame_bytes_);
        } else {
            for (std::size_t f = 0; f < take; ++f) {
                const std::uint8_t* frame = src + f * source_frame_bytes_;
                for (unsigned k = 0; k < out_channels; ++k)
                    std::memcpy(dst + f * out_channels + k,
                                frame + 2 * std::min(k, in_channels - 1), 2);
            }
        }
        ApplyGain(dst, take * out_channels);
        fill_ += take * encoder_frame_bytes_;
        src += take * source_frame_bytes_;
        frames -= take;
        if (fill_ == chunk_bytes_) {
            fill_ = 0;
            EncodeChunk(chunk_bytes_);
        }
    }
}

void EncodingEngine::ApplyGain(std::int16_t* samples, std::size_t count) const {
    if (params_.gain == 1.0f) return;
    constexpr float kMin = std::numeric_limits<std::int16_t>::min();
    constexpr float kMax = std::numeric_limits<std::int16_t>::max();
    for (std::size_t i = 0; i < count; ++i) {
        // Truncated toward zero; loud samples are held at full scale rather than wrapped round
        // to the opposite sign.
        const float product = std::trunc(static_cast<float>(samples[i]) * params_.gain);
        samples[i] = static_cast<std::int16_t>(std::clamp(product, kMin, kMax));
    }
}

bool EncodingEngine::EncodeChunk(std::size_t bytes) {
    std::uint32_t written = 0;
    const unsigned long err = encoder_.Encode(static_cast<std::uint32_t>(bytes / 2), chunk_.data(),
                                              mp3_buffer_.data(), &written);
    if (err != 0) {
        encoder_.Close();
        std::fprintf(console_, "beEncodeChunk() failed (%lu)\r\n", err);
        std::fflush(console_);
        encode_failed_ = true;
        return false;
    }
    WriteMp3(written);
    return !Failed();
}

void EncodingEngine::WriteMp3(std::uint32_t size) {
    if (size == 0) return;
    if (size > mp3_buffer_.size() || std::fwrite(mp3_buffer_.data(), 1, size, mp3_) != size)
        write_failed_ = true;
}

bool EncodingEngine::Finish() {
    // PCM short of a full chunk is encoded too, so the end of the audio is not lost.
    if (!Failed() && fill_ > 0) EncodeChunk(fill_);
    fill_ = 0;
    if (Failed()) return false;
    std::uint32_t written = 0;
    if (encoder_.Flush(mp3_buffer_.data(), &written) == 0) WriteMp3(written);
    return !Failed();
}

}  // namespace quenby
