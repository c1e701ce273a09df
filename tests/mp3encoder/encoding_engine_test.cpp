#include "mp3encoder/encoding_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quenby {
namespace {

// Records every call; "encodes" a chunk into one byte per call so the MP3 stream shows the
// calls in order.
class FakeEncoder : public ChunkEncoder {
  public:
    std::vector<std::vector<short>> chunks;
    std::uint32_t max_samples = 0;
    int fail_on_call = -1;  // 0-based call that returns an error
    int flushes = 0;
    int closes = 0;

    unsigned long Encode(std::uint32_t count, short* samples, unsigned char* out,
                         std::uint32_t* written) override {
        EXPECT_LE(count, max_samples) << "more than one chunk in one call";
        if (closes > 0) return BE_ERR_INVALID_HANDLE;
        if (static_cast<int>(chunks.size()) == fail_on_call) return 7;
        chunks.emplace_back(samples, samples + count);
        out[0] = static_cast<unsigned char>(chunks.size());
        *written = 1;
        return 0;
    }
    unsigned long Flush(unsigned char* out, std::uint32_t* written) override {
        ++flushes;
        out[0] = 0xEE;
        out[1] = 0xEF;
        *written = 2;
        return 0;
    }
    void Close() override { ++closes; }

    std::vector<short> All() const {
        std::vector<short> all;
        for (const auto& c : chunks) all.insert(all.end(), c.begin(), c.end());
        return all;
    }
};

struct Harness {
    FakeEncoder encoder;
    char* mp3_text = nullptr;
    size_t mp3_size = 0;
    char* console_text = nullptr;
    size_t console_size = 0;
    FILE* mp3 = open_memstream(&mp3_text, &mp3_size);
    FILE* console = open_memstream(&console_text, &console_size);
    EncodingEngine engine;

    explicit Harness(EngineParams p)
        : engine((encoder.max_samples = p.samples_per_chunk, p), encoder, mp3, console) {}
    ~Harness() {
        std::fclose(mp3);
        std::fclose(console);
        std::free(mp3_text);
        std::free(console_text);
    }
    std::string Console() {
        std::fflush(console);
        return std::string(console_text, console_size);
    }
    std::string Mp3() {
        std::fflush(mp3);
        return std::string(mp3_text, mp3_size);
    }
};

EngineParams Params(unsigned channels, unsigned rate, int encoder_channels, std::uint32_t spc) {
    EngineParams p;
    p.source_channels = channels;
    p.source_rate = rate;
    p.encoder_channels = encoder_channels;
    p.samples_per_chunk = spc;
    p.mp3_buffer_size = 8640;
    p.progress_length = 10.0;
    return p;
}

std::vector<std::uint8_t> Pcm(const std::vector<short>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<short> Ramp(std::size_t n, short start = 1) {
    std::vector<short> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<short>(start + static_cast<short>(i % 20000));
    return v;
}

TEST(EncodingEngine, LeadingSilenceMatchesTheFirstStartTimeOnly) {
    Harness h(Params(2, 44100, 2, 2304));
    const auto pcm = Pcm(Ramp(2 * 1000));
    // Audio starting 0.5 s in: 22050 silent stereo frames, 88200 bytes, ahead of it.
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 5'000'000, 5'226'757), 0);
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 9'000'000, 9'226'757), 0);
    ASSERT_TRUE(h.engine.Finish());
    const auto all = h.encoder.All();
    ASSERT_EQ(all.size(), 44100u + 4000u);
    for (std::size_t i = 0; i < 44100; ++i) ASSERT_EQ(all[i], 0) << i;
    EXPECT_EQ(all[44100], 1);
    // Full chunks of 2304 samples, then the rest at the end instead of being dropped.
    for (std::size_t i = 0; i + 1 < h.encoder.chunks.size(); ++i)
        EXPECT_EQ(h.encoder.chunks[i].size(), 2304u);
    EXPECT_EQ(h.encoder.chunks.back().size(), (44100u + 4000u) % 2304u);
    EXPECT_EQ(h.encoder.flushes, 1);
    // Every call's bytes, then the flush, in order.
    const std::string mp3 = h.Mp3();
    ASSERT_EQ(mp3.size(), h.encoder.chunks.size() + 2);
    EXPECT_EQ(static_cast<unsigned char>(mp3[0]), 1);
    EXPECT_EQ(mp3.substr(mp3.size() - 2), "\xEE\xEF");
}

TEST(EncodingEngine, NoSilenceWhenTheFirstSampleStartsAtZero) {
    Harness h(Params(2, 48000, 2, 2304));
    const auto pcm = Pcm(Ramp(2 * 300, 5));
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 0, 62500), 0);
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 30'000'000, 30'062'500), 0);
    ASSERT_TRUE(h.engine.Finish());
    const auto all = h.encoder.All();
    ASSERT_EQ(all.size(), 1200u);
    EXPECT_EQ(all[0], 5);
    EXPECT_EQ(all[600], 5);
}

TEST(EncodingEngine, MonoSourceFillsHalfTheSamplesPerChunkAndSilenceCountsMonoFrames) {
    Harness h(Params(1, 22050, 1, 576));
    const auto pcm = Pcm(Ramp(1000));
    // 0.1 s at 22050 Hz: 2205 mono frames of silence, not 4 bytes per frame.
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 1'000'000, 0), 0);
    ASSERT_TRUE(h.engine.Finish());
    EXPECT_EQ(h.engine.ChunkBytes(), 576u);
    for (std::size_t i = 0; i + 1 < h.encoder.chunks.size(); ++i)
        EXPECT_EQ(h.encoder.chunks[i].size(), 288u);
    const auto all = h.encoder.All();
    ASSERT_EQ(all.size(), 2205u + 1000u);
    EXPECT_EQ(all[2204], 0);
    EXPECT_EQ(all[2205], 1);
}

TEST(EncodingEngine, MonoModeOnMultiChannelSourcesTakesTheFirstChannelInWholeChunks) {
    for (unsigned channels : {2u, 6u}) {
        Harness h(Params(channels, 44100, 1, 1152));
        std::vector<short> frames;
        for (int f = 0; f < 3000; ++f)
            for (unsigned c = 0; c < channels; ++c)
                frames.push_back(static_cast<short>(c == 0 ? f : -7));
        const auto pcm = Pcm(frames);
        // Delivered in uneven pieces, one of them splitting a frame.
        const std::size_t cut1 = 1001 * 2 * channels + 3, cut2 = cut1 + 777 * 2 * channels;
        ASSERT_EQ(h.engine.OnSample(pcm.data(), cut1, 0, 0), 0);
        ASSERT_EQ(h.engine.OnSample(pcm.data() + cut1, cut2 - cut1, 1, 0), 0);
        ASSERT_EQ(h.engine.OnSample(pcm.data() + cut2, pcm.size() - cut2, 2, 0), 0);
        ASSERT_TRUE(h.engine.Finish());
        const auto all = h.encoder.All();
        ASSERT_EQ(all.size(), 3000u) << channels;
        for (int f = 0; f < 3000; ++f) ASSERT_EQ(all[f], f) << channels << " frame " << f;
        for (const auto& c : h.encoder.chunks) EXPECT_LE(c.size(), 1152u);
    }
}

TEST(EncodingEngine, StereoModeOnAMonoSourceDoublesEachSample) {
    Harness h(Params(1, 44100, 2, 2304));
    const auto pcm = Pcm(Ramp(500, 100));
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 0, 0), 0);
    ASSERT_TRUE(h.engine.Finish());
    const auto all = h.encoder.All();
    ASSERT_EQ(all.size(), 1000u);
    for (std::size_t i = 0; i < 500; ++i) {
        ASSERT_EQ(all[2 * i], 100 + static_cast<short>(i));
        ASSERT_EQ(all[2 * i + 1], 100 + static_cast<short>(i));
    }
}

TEST(EncodingEngine, GainTruncatesTowardZeroAndHoldsFullScale) {
    EngineParams p = Params(2, 44100, 2, 2304);
    p.gain = static_cast<float>(std::sqrt(2.0));
    Harness h(p);
    const std::vector<short> in = {1000, -1000, 3, -3, 30000, -30000, 32767, -32768};
    const auto pcm = Pcm(in);
    ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 0, 0), 0);
    ASSERT_TRUE(h.engine.Finish());
    const std::vector<short> expected = {1414, -1414, 4, -4, 32767, -32768, 32767, -32768};
    EXPECT_EQ(h.encoder.All(), expected);
}

TEST(EncodingEngine, EncoderFailureIsReportedOnceAndFailsTheRun) {
    Harness h(Params(2, 44100, 2, 2304));
    h.encoder.fail_on_call = 1;
    const auto pcm = Pcm(Ramp(2304 * 3));
    EXPECT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 0, 0), -1);
    EXPECT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), 100, 0), -1);
    EXPECT_FALSE(h.engine.Finish());
    EXPECT_EQ(h.encoder.closes, 1);
    EXPECT_EQ(h.encoder.flushes, 0);
    EXPECT_EQ(h.Console(), "beEncodeChunk() failed (7)\r\n");
    EXPECT_EQ(h.Mp3().size(), 1u);
}

TEST(EncodingEngine, EverySampleWritesOneProgressBlock) {
    EngineParams p = Params(2, 44100, 2, 2304);
    p.progress_length = 2.0;
    Harness h(p);
    const auto pcm = Pcm(Ramp(64));
    const std::int64_t starts[] = {0, 9'000'000, 19'999'999, 25'000'000};
    for (std::int64_t t : starts) ASSERT_EQ(h.engine.OnSample(pcm.data(), pcm.size(), t, 0), 0);
    ASSERT_EQ(h.engine.OnSample(nullptr, 0, 10'000'000, 0), 0);  // no data still reports progress
    const std::string out = h.Console();
    ASSERT_EQ(out.size(), 5u * 80u);
    const int expected[] = {0, 45, 99, 100, 50};
    for (int i = 0; i < 5; ++i) {
        const std::string block = out.substr(i * 80, 80);
        const std::string text = "\rProgress:\t  " + std::to_string(expected[i]) + "%";
        EXPECT_EQ(block.substr(0, text.size()), text);
        EXPECT_EQ(block.find_first_not_of('\0', text.size()), std::string::npos);
    }
}

}  // namespace
}  // namespace quenby
