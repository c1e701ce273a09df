#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bit_reader_for_tests.h"
#include "tools/harrowgate/picture_coder.h"
#include "tools/harrowgate/progress.h"
#include "tools/harrowgate/sequence_header.h"

using namespace harrowgate;
using harrowgate_test::BitReader;

TEST(Progress, ThreeCharactersBeforeThePercentSign) {
    for (int p : {0, 7, 42, 99, 100}) {
        const std::string text = FormatProgress(p);
        ASSERT_GE(text.size(), 5u);
        const size_t percent = text.rfind('%');
        ASSERT_GE(percent, 3u);
        EXPECT_EQ(std::atoi(text.substr(percent - 3, 3).c_str()), p);
        for (size_t i = percent - 3; i < percent; ++i)
            EXPECT_TRUE(text[i] == ' ' || (text[i] >= '0' && text[i] <= '9')) << text;
    }
}

TEST(Progress, PrintsEachChangeOnceAndEndsAtHundred) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        ProgressPrinter printer(out, 8);
        for (int done = 1; done <= 8; ++done) printer.Update(done);
        printer.Update(9);  // more pictures than announced stays below 100
        printer.Finish();
    }
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    std::fclose(out);
    EXPECT_EQ(text, "\r  0%\r 12%\r 25%\r 37%\r 50%\r 62%\r 75%\r 87%\r 99%\r100%\n");
}

TEST(SequenceHeader, FieldsAtTheirBitPositions) {
    SequenceParameters p;
    p.width = 352;
    p.height = 288;
    p.frame_rate_code = 3;
    p.bit_rate_400 = (5u << 18) + 1234;
    const std::vector<uint8_t> unit = SequenceHeaderUnit(p);
    ASSERT_EQ(unit.size(), 19u);  // start code, 112 bits, stuffing byte
    EXPECT_EQ(unit[3], 0xB0);
    BitReader r(unit.data() + 4, unit.size() - 4);
    EXPECT_EQ(r.Bits(8), 0x20u);  // profile
    EXPECT_EQ(r.Bits(8), 0x20u);  // level for this size
    EXPECT_EQ(r.Bits(1), 1u);     // progressive
    EXPECT_EQ(r.Bits(14), 352u);
    EXPECT_EQ(r.Bits(14), 288u);
    EXPECT_EQ(r.Bits(2), 1u);  // 4:2:0
    EXPECT_EQ(r.Bits(3), 1u);  // 8 bit
    EXPECT_EQ(r.Bits(4), 1u);  // square samples
    EXPECT_EQ(r.Bits(4), 3u);
    EXPECT_EQ(r.Bits(18), 1234u);
    EXPECT_EQ(r.Bits(1), 1u);  // marker
    EXPECT_EQ(r.Bits(12), 5u);
    EXPECT_EQ(r.Bits(1), 0u);  // low_delay
    EXPECT_EQ(r.Bits(1), 1u);  // marker
    r.Bits(18 + 3);
    EXPECT_EQ(r.Bits(8), 0x80u);
}

TEST(SequenceHeader, InterlacedDiffersInProgressiveSequenceAlone) {
    SequenceParameters p;
    p.width = 720;
    p.height = 576;
    const std::vector<uint8_t> progressive = SequenceHeaderUnit(p);
    p.progressive = false;
    const std::vector<uint8_t> interlaced = SequenceHeaderUnit(p);
    ASSERT_EQ(interlaced.size(), progressive.size());
    BitReader r(interlaced.data() + 4, interlaced.size() - 4);
    r.Bits(16);
    EXPECT_EQ(r.Bits(1), 0u);  // progressive_sequence
    for (size_t i = 0; i < progressive.size(); ++i)
        EXPECT_EQ(interlaced[i] ^ progressive[i], i == 6 ? 0x80 : 0) << "byte " << i;
}

namespace {

struct PictureHeaderFields {
    uint32_t picture_distance = 0;
    uint32_t progressive_frame = 0;
    int picture_structure = -1;  // -1: absent
    uint32_t top_field_first = 0;
    uint32_t repeat_first_field = 0;
    uint32_t qp = 0;
    uint32_t loop_filter_disable = 0;
    std::vector<uint8_t> slices;  // the unit from the slice start code on
};

// Reads a picture header as FFmpeg's AVS decoder does, for I (B3) and P (B6) units.
PictureHeaderFields ReadPictureHeader(const std::vector<uint8_t>& unit) {
    PictureHeaderFields f;
    const bool intra = unit.at(3) == 0xB3;
    BitReader r(unit.data() + 4, unit.size() - 4);
    r.Bits(16);  // bbv_delay
    if (intra) {
        EXPECT_EQ(r.Bits(1), 0u);  // time_code_flag
        EXPECT_EQ(r.Bits(1), 1u);  // marker_bit
    } else {
        EXPECT_EQ(r.Bits(2), 1u);  // picture_coding_type: P
    }
    f.picture_distance = r.Bits(8);
    f.progressive_frame = r.Bits(1);
    if (f.progressive_frame == 0) f.picture_structure = static_cast<int>(r.Bits(1));
    f.top_field_first = r.Bits(1);
    f.repeat_first_field = r.Bits(1);
    EXPECT_EQ(r.Bits(1), 1u);  // fixed_picture_qp
    f.qp = r.Bits(6);
    if (!intra) {
        EXPECT_EQ(r.Bits(1), 1u);  // picture_reference_flag
    }
    EXPECT_EQ(r.Bits(4), 0u);  // reserved bits
    if (!intra) {
        EXPECT_EQ(r.Bits(1), 0u);  // skip_mode_flag
    }
    f.loop_filter_disable = r.Bits(1);
    for (size_t i = 4; i + 3 < unit.size(); ++i)
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            f.slices.assign(unit.begin() + static_cast<std::ptrdiff_t>(i), unit.end());
            break;
        }
    return f;
}

Frame Gradient(int width, int height, int shift) {
    Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.luma.Row(y)[x] = static_cast<uint8_t>((x * 5 + y * 3 + shift) % 256);
    for (Plane* p : {&f.cb, &f.cr})
        for (int y = 0; y < p->height; ++y)
            for (int x = 0; x < p->width; ++x) p->Row(y)[x] = static_cast<uint8_t>(100 + x - y);
    return f;
}

}  // namespace

TEST(PictureHeader, InterlacedFramesAreFramePicturesTopFieldFirst) {
    PictureCoder progressive(64, 32, 30);
    PictureCoder interlaced(64, 32, 30);
    interlaced.SetProgressive(false);
    for (bool loop_filter : {false, true}) {
        progressive.SetLoopFilter(loop_filter);
        interlaced.SetLoopFilter(loop_filter);
        for (int i = 0; i < 3; ++i) {
            const PictureType type = i == 0 ? PictureType::kIntra : PictureType::kPredicted;
            const Frame frame = Gradient(64, 32, i * 3);
            const PictureHeaderFields p = ReadPictureHeader(progressive.Encode(frame, type, i));
            const PictureHeaderFields f = ReadPictureHeader(interlaced.Encode(frame, type, i));
            SCOPED_TRACE("picture " + std::to_string(i));
            EXPECT_EQ(p.progressive_frame, 1u);
            EXPECT_EQ(p.picture_structure, -1);
            EXPECT_EQ(p.top_field_first, 0u);
            EXPECT_EQ(p.repeat_first_field, 0u);
            EXPECT_EQ(f.progressive_frame, 0u);
            EXPECT_EQ(f.picture_structure, 1);  // a frame picture
            EXPECT_EQ(f.top_field_first, 1u);
            EXPECT_EQ(f.repeat_first_field, 0u);
            for (const PictureHeaderFields* h : {&p, &f}) {
                EXPECT_EQ(h->picture_distance, static_cast<uint32_t>(i));
                EXPECT_EQ(h->qp, 30u);
                EXPECT_EQ(h->loop_filter_disable, loop_filter ? 0u : 1u);
            }
            // Only the header says interlaced: the macroblocks are coded alike.
            ASSERT_FALSE(p.slices.empty());
            EXPECT_EQ(f.slices, p.slices);
        }
    }
}

TEST(SequenceHeader, NearestFrameRateCode) {
    EXPECT_EQ(NearestFrameRateCode(24.0), 2);
    EXPECT_EQ(NearestFrameRateCode(23.976), 1);
    EXPECT_EQ(NearestFrameRateCode(25.0), 3);
    EXPECT_EQ(NearestFrameRateCode(29.969999), 4);
    EXPECT_EQ(NearestFrameRateCode(30.0), 5);
    EXPECT_EQ(NearestFrameRateCode(48.0), 6);
    EXPECT_EQ(NearestFrameRateCode(59.94), 7);
    EXPECT_EQ(NearestFrameRateCode(120.0), 8);
    EXPECT_EQ(NearestFrameRateCode(1.0), 1);
}
