#include "mux/mpeg_audio_reader.h"

#include <gtest/gtest.h>

#include "mux_test_support.h"

using namespace mux;
using muxtest::Bytes;

namespace {

// Runs fn on a FILE* over the bytes, with warnings collected.
struct AudioFixture {
    explicit AudioFixture(const Bytes& b) : data(b) {
        in = muxtest::StreamOf(data);
        reader = std::make_unique<MpegAudioReader>(in, warnings.File());
    }
    ~AudioFixture() { std::fclose(in); }
    Bytes data;
    std::FILE* in;
    muxtest::MemStream warnings;
    std::unique_ptr<MpegAudioReader> reader;
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(MpegAudio, HeaderFieldsRatesAndFrameLengths) {
    MpegAudioHeader h = ParseMpegAudioHeader(0xFFFB9044);
    EXPECT_EQ(h.version, kMpeg1);
    EXPECT_EQ(h.layer, 1);
    EXPECT_EQ(BitRateKbps(h), 128);
    EXPECT_EQ(SampleRateHz(h), 44100);
    EXPECT_EQ(SamplesPerFrame(h), 1152);
    EXPECT_EQ(FrameLength(h), 417);
    EXPECT_EQ(FrameLength(ParseMpegAudioHeader(0xFFFB9244)), 418);
    MpegAudioHeader m2 = ParseMpegAudioHeader(0xFFF38044);
    EXPECT_EQ(FrameLength(m2), 208);
    EXPECT_EQ(SamplesPerFrame(m2), 576);
    EXPECT_EQ(audio_object_type(m2.version), 0x69);
    EXPECT_EQ(audio_object_type(kMpeg1), 0x6B);
    EXPECT_EQ(audio_object_type(kMpegReservedVersion), 0);
    // Layer I MPEG-1 at 32 kbit/s, 48 kHz: (12000*32/48000)*4 = 32; layer II MPEG-2.5 at
    // 160 kbit/s, 8 kHz: 144000*160/8000 = 2880 (the largest frame).
    EXPECT_EQ(FrameLength(ParseMpegAudioHeader(0xFFFF1400)), 32);
    EXPECT_EQ(FrameLength(ParseMpegAudioHeader(0xFFE5E800)), 2880);
    EXPECT_EQ(BitRateKbps(ParseMpegAudioHeader(0xFFFB0044)), 0);
}

TEST(MpegAudio, SynchronisationSkipsGarbageAndCountsOnlyRejectedBytes) {
    Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Bytes frame = muxtest::Mp3Frame();
    // FF FB F0: FF and FB start a header that fails at F0; only F0 itself is dropped.
    Bytes data = Cat({id3, {0xFF, 0xFB, 0xF0}, frame, frame});
    AudioFixture f(data);
    uint8_t buf[8192];
    uint32_t len = sizeof buf;
    ASSERT_TRUE(f.reader->read_frame(buf, len));
    EXPECT_EQ(len, 417u);
    EXPECT_EQ(Bytes(buf, buf + len), frame);
    EXPECT_EQ(f.warnings.Str(), "Warning dropped 21 input bytes\n");
    len = sizeof buf;
    ASSERT_TRUE(f.reader->read_frame(buf, len));
    len = sizeof buf;
    EXPECT_FALSE(f.reader->read_frame(buf, len));
    EXPECT_EQ(len, sizeof buf);
    EXPECT_EQ(f.warnings.Str(), "Warning dropped 21 input bytes\n");
}

TEST(MpegAudio, DoubleFfRetriesThirdByteAsSecond) {
    // FF FF F3 <third> <fourth>: header FF F3 <third> <fourth>.
    Bytes data = {0x00, 0xFF, 0xFF, 0xF3, 0x80, 0x44};
    AudioFixture f(data);
    uint32_t h = 0;
    ASSERT_TRUE(f.reader->find_frame_header(false, h));
    EXPECT_EQ(h, 0xFFF38044u);
    EXPECT_EQ(f.warnings.Str(), "Warning dropped 1 input bytes\n");
}

TEST(MpegAudio, HeaderWhose0xFFWentBeforeTheSearchIsAccepted) {
    Bytes data = {0xFB, 0x90, 0x44, 0x00};
    AudioFixture f(data);
    uint32_t h = 0;
    ASSERT_TRUE(f.reader->find_frame_header(false, h));
    EXPECT_EQ(h, 0xFFFB9044u);
    EXPECT_EQ(f.warnings.Str(), "");
    // After a dropped byte the shortcut no longer applies.
    AudioFixture g(Bytes{0x12, 0xFB, 0x90, 0x44, 0x00});
    EXPECT_FALSE(g.reader->find_frame_header(false, h));
}

TEST(MpegAudio, FreeFormatBadRateAndReservedFieldsAreNeverSynchronised) {
    for (Bytes hdr : {Bytes{0xFF, 0xFB, 0x00, 0x44},     // free format
                      Bytes{0xFF, 0xFB, 0xF0, 0x44},     // bitrate index 15
                      Bytes{0xFF, 0xFB, 0x9C, 0x44},     // sample rate index 3
                      Bytes{0xFF, 0xEB, 0x90, 0x44}}) {  // reserved version
        Bytes data = Cat({hdr, Bytes(20, 0x00)});
        AudioFixture f(data);
        uint32_t h;
        EXPECT_FALSE(f.reader->find_frame_header(false, h)) << int(hdr[1]) << " " << int(hdr[2]);
    }
}

TEST(MpegAudio, AdtsIsSeenByProbeLayerAndRefusedByProbeHeader) {
    Bytes adts = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC, 0x00, 0x00};
    AudioFixture f(adts);
    int layer = -1;
    ASSERT_TRUE(f.reader->probe_layer(layer));
    EXPECT_EQ(layer, 0);
    EXPECT_EQ(std::ftell(f.in), 0);
    MpegAudioProbe probe;
    EXPECT_FALSE(f.reader->probe_header(probe));
    EXPECT_EQ(std::ftell(f.in), 0);
}

TEST(MpegAudio, ProbesRestorePositionAndTruncatedFrameEndsReading) {
    Bytes frame = muxtest::Mpeg2Frame();
    Bytes data = Cat({Bytes{1, 2, 3}, frame, Bytes(frame.begin(), frame.begin() + 100)});
    AudioFixture f(data);
    MpegAudioProbe probe;
    ASSERT_TRUE(f.reader->probe_header(probe));
    EXPECT_EQ(probe.sample_rate, 22050);
    EXPECT_EQ(probe.samples_per_frame, 576);
    EXPECT_EQ(probe.bit_rate_kbps, 64);
    EXPECT_EQ(probe.version, kMpeg2);
    int layer;
    ASSERT_TRUE(f.reader->probe_layer(layer));
    EXPECT_EQ(layer, 1);
    EXPECT_EQ(std::ftell(f.in), 0);
    uint8_t buf[8192];
    uint32_t len = sizeof buf;
    ASSERT_TRUE(f.reader->read_frame(buf, len));
    EXPECT_EQ(len, 208u);
    len = sizeof buf;
    EXPECT_FALSE(f.reader->read_frame(buf, len));  // only 100 bytes of the next one
    EXPECT_EQ(len, sizeof buf);
    // Warned once per search that skipped the 3 leading bytes.
    EXPECT_EQ(f.warnings.Str(),
              "Warning dropped 3 input bytes\n"
              "Warning dropped 3 input bytes\n"
              "Warning dropped 3 input bytes\n");
    // A buffer smaller than the frame ends reading too.
    AudioFixture g(frame);
    len = 100;
    EXPECT_FALSE(g.reader->read_frame(buf, len));
    EXPECT_EQ(len, 100u);
    // Empty input.
    AudioFixture e(Bytes{});
    uint32_t h;
    EXPECT_FALSE(e.reader->find_frame_header(true, h));
}
