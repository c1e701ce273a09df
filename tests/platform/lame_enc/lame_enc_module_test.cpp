#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lame_enc/blade_enc.h"

namespace {

struct Module {
    void* handle = nullptr;
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER write_vbr = nullptr;
    BEWRITEINFOTAG write_info = nullptr;

    Module() {
        handle = dlopen(AVS_BIN_DIR "/lame_enc.so", RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        init = reinterpret_cast<BEINITSTREAM>(dlsym(handle, "beInitStream"));
        encode = reinterpret_cast<BEENCODECHUNK>(dlsym(handle, "beEncodeChunk"));
        deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(handle, "beDeinitStream"));
        close = reinterpret_cast<BECLOSESTREAM>(dlsym(handle, "beCloseStream"));
        version = reinterpret_cast<BEVERSION>(dlsym(handle, "beVersion"));
        write_vbr = reinterpret_cast<BEWRITEVBRHEADER>(dlsym(handle, "beWriteVBRHeader"));
        write_info = reinterpret_cast<BEWRITEINFOTAG>(dlsym(handle, "beWriteInfoTag"));
    }
    ~Module() {
        if (handle) dlclose(handle);
    }
};

Module& Loaded() {
    static Module m;
    return m;
}

BE_CONFIG LameConfig(unsigned rate, unsigned resample, int mode, unsigned bitrate,
                     unsigned max_bitrate, bool vbr) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    c.dwConfig = BE_CONFIG_LAME;
    auto& l = c.format.LHV1;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof c;
    l.dwSampleRate = rate;
    l.dwReSampleRate = resample;
    l.nMode = mode;
    l.dwBitrate = bitrate;
    l.dwMaxBitrate = max_bitrate;
    l.nPreset = LQP_HIFI;
    l.bOriginal = 1;
    l.bWriteVBRHeader = 1;
    l.bEnableVBR = vbr ? 1 : 0;
    l.nVBRQuality = vbr ? 6 : 0;
    return c;
}

std::vector<unsigned char> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Encodes `seconds` of a two-tone signal to `path` the way a caller of the interface does.
void EncodeToFile(const BE_CONFIG& config_in, double seconds, const std::filesystem::path& path,
                  const std::vector<unsigned char>& prefix = {}) {
    Module& m = Loaded();
    BE_CONFIG config = config_in;
    blade::BE_DWORD samples = 0, buffer_size = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(m.init(&config, &samples, &buffer_size, &stream), BE_ERR_SUCCESSFUL);
    const int channels = config.format.LHV1.nMode == BE_MP3_MODE_MONO ? 1 : 2;
    const unsigned rate = config.format.LHV1.dwSampleRate;
    std::vector<short> pcm(samples);
    std::vector<unsigned char> mp3(buffer_size);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(prefix.data(), 1, prefix.size(), f);
    const long total = static_cast<long>(seconds * rate);
    long t = 0;
    while (t < total) {
        const long frames = std::min<long>(samples / channels, total - t);
        for (long i = 0; i < frames; ++i, ++t)
            for (int c = 0; c < channels; ++c)
                pcm[i * channels + c] =
                    static_cast<short>(8000 * std::sin(2 * M_PI * (440.0 + 220 * c) * t / rate) +
                                       3000 * std::sin(2 * M_PI * 5000.0 * t / rate));
        blade::BE_DWORD written = 0;
        ASSERT_EQ(m.encode(stream, static_cast<blade::BE_DWORD>(frames * channels), pcm.data(),
                           mp3.data(), &written),
                  BE_ERR_SUCCESSFUL);
        ASSERT_LE(written, buffer_size);
        std::fwrite(mp3.data(), 1, written, f);
    }
    blade::BE_DWORD written = 0;
    ASSERT_EQ(m.deinit(stream, mp3.data(), &written), BE_ERR_SUCCESSFUL);
    std::fwrite(mp3.data(), 1, written, f);
    std::fclose(f);
    ASSERT_EQ(m.close(stream), BE_ERR_SUCCESSFUL);
}

// Frame count stored in the header frame ("Xing"/"Info" tag, frames flag set), or -1.
long TagFrames(const std::vector<unsigned char>& file, std::size_t frame_at, const char* marker) {
    for (std::size_t i = frame_at; i + 12 < file.size() && i < frame_at + 64; ++i) {
        if (std::memcmp(&file[i], marker, 4) == 0) {
            if ((file[i + 7] & 1) == 0) return -1;
            return (long(file[i + 8]) << 24) | (long(file[i + 9]) << 16) |
                   (long(file[i + 10]) << 8) | long(file[i + 11]);
        }
    }
    return -1;
}

class LameEncModule : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Loaded().handle, nullptr) << dlerror();
        ASSERT_TRUE(Loaded().init && Loaded().encode && Loaded().deinit && Loaded().close &&
                    Loaded().version && Loaded().write_vbr && Loaded().write_info);
        dir_ = std::filesystem::temp_directory_path() /
               ("lame_enc_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(LameEncModule, ChunkAndBufferSizesFollowModeAndOutputRate) {
    struct Case {
        unsigned rate, resample;
        int mode;
        blade::BE_DWORD samples;
    } cases[] = {
        {44100, 44100, BE_MP3_MODE_JSTEREO, 2304},  // MPEG-1: 1152 per channel
        {44100, 44100, BE_MP3_MODE_MONO, 1152},
        {48000, 0, BE_MP3_MODE_STEREO, 2304},
        {44100, 22050, BE_MP3_MODE_JSTEREO, 1152},  // MPEG-2 output: 576 per channel
        {22050, 22050, BE_MP3_MODE_MONO, 576},
        // 96 kHz has no MP3 frames; keeping the input rate lets the encoder pick one, for 64
        // kbit/s an MPEG-2 rate.
        {96000, 96000, BE_MP3_MODE_JSTEREO, 1152},
    };
    for (const Case& c : cases) {
        BE_CONFIG config = LameConfig(c.rate, c.resample, c.mode, 64, 64, false);
        blade::BE_DWORD samples = 0, buffer = 0;
        HBE_STREAM s = 0;
        ASSERT_EQ(Loaded().init(&config, &samples, &buffer, &s), BE_ERR_SUCCESSFUL) << c.rate;
        EXPECT_EQ(samples, c.samples) << c.rate << " mode " << c.mode;
        EXPECT_GE(buffer, 7200u + samples / (c.mode == BE_MP3_MODE_MONO ? 1 : 2) * 5 / 4);
        EXPECT_EQ(Loaded().close(s), BE_ERR_SUCCESSFUL);
    }
}

TEST_F(LameEncModule, RefusesRecordsItCannotHonour) {
    blade::BE_DWORD samples = 0, buffer = 0;
    HBE_STREAM s = 0;
    BE_CONFIG bad_mode = LameConfig(44100, 44100, 7, 64, 64, false);
    EXPECT_EQ(Loaded().init(&bad_mode, &samples, &buffer, &s), BE_ERR_INVALID_FORMAT_PARAMETERS);
    // What a wrapped negative bit rate on the command line arrives as.
    BE_CONFIG huge_rate = LameConfig(44100, 44100, 1, 4294967232u, 4294967232u, false);
    EXPECT_EQ(Loaded().init(&huge_rate, &samples, &buffer, &s), BE_ERR_INVALID_FORMAT_PARAMETERS);
    BE_CONFIG odd_resample = LameConfig(44100, 12345, 1, 64, 64, false);
    EXPECT_EQ(Loaded().init(&odd_resample, &samples, &buffer, &s),
              BE_ERR_INVALID_FORMAT_PARAMETERS);
    BE_CONFIG unknown = LameConfig(44100, 44100, 1, 64, 64, false);
    unknown.dwConfig = 2;
    EXPECT_EQ(Loaded().init(&unknown, &samples, &buffer, &s), BE_ERR_INVALID_FORMAT);
    EXPECT_EQ(Loaded().init(nullptr, &samples, &buffer, &s), BE_ERR_INVALID_FORMAT_PARAMETERS);
}

TEST_F(LameEncModule, GuardsHandlesAndTheAdvertisedBufferSize) {
    BE_CONFIG config = LameConfig(44100, 44100, BE_MP3_MODE_JSTEREO, 128, 128, false);
    blade::BE_DWORD samples = 0, buffer = 0;
    HBE_STREAM s = 0;
    ASSERT_EQ(Loaded().init(&config, &samples, &buffer, &s), BE_ERR_SUCCESSFUL);
    std::vector<short> pcm(samples * 2, 1000);
    std::vector<unsigned char> out(buffer);
    blade::BE_DWORD written = 0;
    // More samples than one chunk could overrun the buffer the caller sized from beInitStream.
    EXPECT_EQ(Loaded().encode(s, samples + 2, pcm.data(), out.data(), &written),
              BE_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(Loaded().encode(s, samples, pcm.data(), out.data(), &written), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(Loaded().encode(s + 1000, samples, pcm.data(), out.data(), &written),
              BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Loaded().close(s), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(Loaded().encode(s, samples, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Loaded().deinit(s, out.data(), &written), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(Loaded().close(s), BE_ERR_INVALID_HANDLE);
}

TEST_F(LameEncModule, VbrHeaderCountsEveryFrameAndCbrGetsAnInfoTag) {
    const auto vbr = dir_ / "vbr.mp3";
    EncodeToFile(LameConfig(44100, 44100, BE_MP3_MODE_JSTEREO, 64, 192, true), 3.0, vbr);
    auto before = ReadFile(vbr);
    EXPECT_EQ(TagFrames(before, 0, "Xing"), -1) << "placeholder must still be empty";
    ASSERT_EQ(Loaded().write_vbr(vbr.c_str()), BE_ERR_SUCCESSFUL);
    auto after = ReadFile(vbr);
    ASSERT_EQ(after.size(), before.size());
    // 3 s at 44.1 kHz is 114.8 frames of 1152; with encoder delay and padding 116 or 117.
    const long frames = TagFrames(after, 0, "Xing");
    EXPECT_GE(frames, 115);
    EXPECT_LE(frames, 118);

    const auto cbr = dir_ / "cbr.mp3";
    EncodeToFile(LameConfig(48000, 48000, BE_MP3_MODE_MONO, 96, 96, false), 1.0, cbr);
    ASSERT_EQ(Loaded().write_vbr(cbr.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_GT(TagFrames(ReadFile(cbr), 0, "Info"), 40);
}

TEST_F(LameEncModule, HeaderGoesAfterAnId3TagAndNeverOverAStrangeFile) {
    // A 20-byte ID3v2 tag (10-byte header, 10 bytes of body) before the audio.
    std::vector<unsigned char> id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10};
    id3.resize(20, 0);
    const auto tagged = dir_ / "tagged.mp3";
    EncodeToFile(LameConfig(44100, 44100, BE_MP3_MODE_STEREO, 128, 192, true), 1.0, tagged, id3);
    ASSERT_EQ(Loaded().write_vbr(tagged.c_str()), BE_ERR_SUCCESSFUL);
    const auto bytes = ReadFile(tagged);
    EXPECT_TRUE(std::equal(id3.begin(), id3.end(), bytes.begin()));
    EXPECT_GT(TagFrames(bytes, 20, "Xing"), 30);

    const auto other = dir_ / "other.bin";
    {
        std::ofstream o(other, std::ios::binary);
        o << "not an mp3 file at all, but long enough to hold a header frame";
    }
    const auto original = ReadFile(other);
    EXPECT_NE(Loaded().write_vbr(other.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(ReadFile(other), original);
    EXPECT_NE(Loaded().write_vbr((dir_ / "missing.mp3").c_str()), BE_ERR_SUCCESSFUL);
}

TEST_F(LameEncModule, InfoTagExportWritesTheHeaderAndEndsTheStream) {
    BE_CONFIG config = LameConfig(44100, 44100, BE_MP3_MODE_JSTEREO, 64, 160, true);
    blade::BE_DWORD samples = 0, buffer = 0;
    HBE_STREAM s = 0;
    ASSERT_EQ(Loaded().init(&config, &samples, &buffer, &s), BE_ERR_SUCCESSFUL);
    const auto path = dir_ / "info.mp3";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<short> pcm(samples);
    std::vector<unsigned char> out(buffer);
    for (int chunk = 0; chunk < 40; ++chunk) {
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<short>(((chunk * 7919 + i * 104729) % 20000) - 10000);
        blade::BE_DWORD written = 0;
        ASSERT_EQ(Loaded().encode(s, samples, pcm.data(), out.data(), &written), BE_ERR_SUCCESSFUL);
        std::fwrite(out.data(), 1, written, f);
    }
    // Before the stream is flushed there is no header to write.
    EXPECT_NE(Loaded().write_info(s, path.c_str()), BE_ERR_SUCCESSFUL);
    blade::BE_DWORD written = 0;
    ASSERT_EQ(Loaded().deinit(s, out.data(), &written), BE_ERR_SUCCESSFUL);
    std::fwrite(out.data(), 1, written, f);
    std::fclose(f);
    EXPECT_EQ(Loaded().write_info(s, path.c_str()), BE_ERR_SUCCESSFUL);
    EXPECT_GT(TagFrames(ReadFile(path), 0, "Xing"), 30);
    EXPECT_EQ(Loaded().close(s), BE_ERR_INVALID_HANDLE);
}

}  // namespace
