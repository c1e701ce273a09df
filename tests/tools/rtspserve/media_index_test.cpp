#include "tools/rtspserve/media_index.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string Data(const char* name) {
    return std::string(AVS_TEST_DATA_DIR) + "/" + name;
}

long FileSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n;
}

TEST(AvsIndex, SampleStreamsCutIntoTheirPictures) {
    for (const char* name :
         {"xavs_cif352x288_25fps_IBP_100f.avs", "rm52j_cif352x288_25fps_IBBP_gop12_100f.avs"}) {
        std::string error;
        auto index = rtspserve::IndexAvsFile(Data(name), &error);
        ASSERT_TRUE(index) << error;
        EXPECT_EQ(index->pictures.size(), 100u) << name;
        EXPECT_DOUBLE_EQ(index->frame_rate, 25.0);
        EXPECT_EQ(index->sequence_header.at(0), 0xB0);
        EXPECT_TRUE(index->pictures[0].random_access);
        // The pictures tile the file from the first start code to its end.
        uint64_t at = index->pictures[0].offset;
        for (const auto& p : index->pictures) {
            EXPECT_EQ(p.offset, at);
            at += p.length;
        }
        EXPECT_EQ(at, static_cast<uint64_t>(FileSize(Data(name))));
    }
    // The group-of-12 stream has an I picture every 12.
    auto index =
        rtspserve::IndexAvsFile(Data("rm52j_cif352x288_25fps_IBBP_gop12_100f.avs"), nullptr);
    int random_access = 0;
    for (const auto& p : index->pictures) random_access += p.random_access;
    EXPECT_GE(random_access, 8);
    EXPECT_LE(random_access, 10);
}

TEST(AvsIndex, UnreadableOrEmptyInputsAreRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(rtspserve::IndexAvsFile("/nonexistent/x.avs", &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    std::string path = ::testing::TempDir() + "garbage.avs";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("no start codes in here at all", f);
    std::fclose(f);
    EXPECT_FALSE(rtspserve::IndexAvsFile(path, &error));
    EXPECT_NE(error.find("no AVS sequence header"), std::string::npos);
}

TEST(Mp3Index, FrameLengthsAndResynchronisation) {
    uint32_t rate = 0, samples = 0;
    const uint8_t l3[] = {0xFF, 0xFB, 0x90, 0x64};  // MPEG-1 Layer III 128k 44.1k
    EXPECT_EQ(rtspserve::MpegAudioFrameLength(l3, &rate, &samples), 417u);
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(samples, 1152u);
    const uint8_t l3_padded[] = {0xFF, 0xFB, 0x92, 0x64};
    EXPECT_EQ(rtspserve::MpegAudioFrameLength(l3_padded, nullptr, nullptr), 418u);
    const uint8_t v2[] = {0xFF, 0xF3, 0x80, 0x00};  // MPEG-2 Layer III 64k 22.05k
    EXPECT_EQ(rtspserve::MpegAudioFrameLength(v2, &rate, &samples), 208u);
    EXPECT_EQ(samples, 576u);
    const uint8_t l2[] = {0xFF, 0xFD, 0xA4, 0x00};  // MPEG-1 Layer II 192k 48k
    EXPECT_EQ(rtspserve::MpegAudioFrameLength(l2, &rate, &samples), 576u);
    const uint8_t bad[] = {0xFF, 0xFB, 0xF0, 0x00};  // bit-rate index 15
    EXPECT_EQ(rtspserve::MpegAudioFrameLength(bad, nullptr, nullptr), 0u);

    // An ID3v2 tag, junk between frames and a cut last frame.
    std::string path = ::testing::TempDir() + "resync.mp3";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const uint8_t id3[10] = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    std::fwrite(id3, 1, 10, f);
    std::fwrite(std::string(20, 'T').data(), 1, 20, f);
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame(417, 0x55);
        std::copy(l3, l3 + 4, frame.begin());
        std::fwrite(frame.data(), 1, frame.size(), f);
        if (i == 2) std::fwrite("junk", 1, 4, f);
    }
    std::fwrite(l3, 1, 4, f);  // a header with no body
    std::fclose(f);
    std::string error;
    auto index = rtspserve::IndexMp3File(path, &error);
    ASSERT_TRUE(index) << error;
    ASSERT_EQ(index->frames.size(), 5u);
    EXPECT_EQ(index->frames[0].offset, 30u);
    EXPECT_EQ(index->frames[3].offset, 30u + 3 * 417 + 4);
    EXPECT_EQ(index->sample_rate, 44100u);
}

}  // namespace
