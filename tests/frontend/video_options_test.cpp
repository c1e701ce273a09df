#include "frontend/video_options.h"

#include <gtest/gtest.h>

namespace avs::frontend {
namespace {

TEST(BuildVideoOptions, DefaultsGiveTheDocumentedText) {
    EXPECT_EQ(BuildVideoOptions({}),
              " -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 24.000000");
}

TEST(BuildVideoOptions, ConditionalItemsAndNumberForms) {
    ConversionSettings s;
    s.width = 720;  // height still 0: neither is passed
    s.frame_rate = 29.97f;
    EXPECT_EQ(BuildVideoOptions(s),
              " -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 29.969999");

    s.height = 576;
    s.video_bitrate = 1500;
    s.rate_control = 3;
    s.chroma_format = 2;
    s.progressive_sequence = 0;
    s.rdo = 1;
    s.loop_filter = 0;
    s.thread_num = 4;
    s.frame_rate = 25.0f;
    EXPECT_EQ(BuildVideoOptions(s),
              " -w 720 -h 576 -c 2 -p 0 -g 18 -q 24 -b 2 -a 3 -f 3 -s 1500 -o 1 -m 32 -t 4 -l 0"
              " -n 25.000000");

    s.width = 0;           // width 0 with height set: neither
    s.video_bitrate = -7;  // no range checks: any non-zero rate is passed
    EXPECT_EQ(BuildVideoOptions(s).substr(0, 12), " -c 2 -p 0 -");
    EXPECT_NE(BuildVideoOptions(s).find(" -f 3 -s -7 -o 1"), std::string::npos);
}

}  // namespace
}  // namespace avs::frontend
