#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bit_reader_for_tests.h"
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
