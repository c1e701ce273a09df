#include "tools/harrowgate/options.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace harrowgate;

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

}  // namespace

TEST(Options, FrontEndDefaultOptionText) {
    const ParseResult r =
        ParseOptions(Words("in.avi out.avi.avs -c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t "
                           "1 -l 1 -n 24.000000"));
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->source, "in.avi");
    EXPECT_EQ(r.options->output, "out.avi.avs");
    EXPECT_EQ(r.options->gop_length, 18);
    EXPECT_EQ(r.options->qp, 24);
    ASSERT_TRUE(r.options->frame_rate);
    EXPECT_DOUBLE_EQ(*r.options->frame_rate, 24.0);
    EXPECT_FALSE(r.options->width);
    EXPECT_EQ(r.options->search_range, 32);
    EXPECT_FALSE(r.options->rate_control);
    EXPECT_TRUE(r.options->loop_filter);
    EXPECT_EQ(r.options->threads, 1);
    EXPECT_TRUE(r.options->progressive);
    EXPECT_EQ(r.options->b_pictures, 2);
    EXPECT_EQ(r.note, "");
    // B pictures: 0 to 7, default 0. The dialog takes any number, so one beyond either end
    // is brought to the nearest end with a note, not refused.
    EXPECT_EQ(ParseOptions(Words("a b")).options->b_pictures, 0);
    EXPECT_EQ(ParseOptions(Words("a b -b 7")).options->b_pictures, 7);
    const ParseResult many = ParseOptions(Words("a b -b 100"));
    ASSERT_TRUE(many.options);
    EXPECT_EQ(many.options->b_pictures, 7);
    EXPECT_EQ(many.note, "option -b 100 is outside 0 to 7: coding with -b 7");
    const ParseResult negative = ParseOptions(Words("a b -b -1"));
    ASSERT_TRUE(negative.options);
    EXPECT_EQ(negative.options->b_pictures, 0);
    EXPECT_EQ(negative.note, "option -b -1 is outside 0 to 7: coding with -b 0");
    EXPECT_FALSE(ParseOptions(Words("a b -b two")).options);
}

TEST(Options, EncoderSettingsAreTaken) {
    // The settings dialog's "on" for rate control is 3.
    ParseResult r = ParseOptions(Words("a b -a 3 -s 1500 -m 7 -l 0 -t 2 -c 1 -o 1"));
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_TRUE(r.options->rate_control);
    EXPECT_EQ(r.options->bit_rate_kbit, 1500);
    EXPECT_EQ(r.options->search_range, 7);
    EXPECT_FALSE(r.options->loop_filter);
    EXPECT_EQ(r.options->threads, 2);
    EXPECT_TRUE(r.options->rdo);
    // The dialog's "interlace" is -p 0.
    r = ParseOptions(Words("a b -p 0"));
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_FALSE(r.options->progressive);
    // 4:2:2 is outside the profile: refused, in one line that says why.
    r = ParseOptions(Words("a b -c 2"));
    EXPECT_FALSE(r.options);
    EXPECT_NE(r.error.find("4:2:2"), std::string::npos) << r.error;
    for (const char* line :
         {"a b -m -1", "a b -t 0", "a b -l 2", "a b -c 3", "a b -s x", "a b -o 2", "a b -p 2"})
        EXPECT_FALSE(ParseOptions(Words(line)).options) << line;
}

TEST(Options, SizeNeedsBothWidthAndHeight) {
    ParseResult r = ParseOptions(Words("a b -w 320 -h 240 -s 800 -n 29.969999"));
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(*r.options->width, 320);
    EXPECT_EQ(*r.options->height, 240);
    r = ParseOptions(Words("a b -w 320"));
    ASSERT_TRUE(r.options);
    EXPECT_FALSE(r.options->width);
    r = ParseOptions(Words("a b -w 320 -h 0"));
    ASSERT_TRUE(r.options);
    EXPECT_FALSE(r.options->height);
}

TEST(Options, BadInputIsOneLineError) {
    const char* bad[] = {"only-one",   "a b -q 64", "a b -q x", "a b -g 0",          "a b -n -5",
                         "a b -n abc", "a b -z 1",  "a b -w",   "a b -w 99999 -h 10"};
    for (const char* line : bad) {
        const ParseResult r = ParseOptions(Words(line));
        EXPECT_FALSE(r.options) << line;
        EXPECT_FALSE(r.error.empty()) << line;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << line;
    }
    EXPECT_TRUE(ParseOptions(Words("--help")).help);
}

TEST(Options, TimestampFileIsNamedFromTheOutputBase) {
    EXPECT_EQ(TimestampPathFor("D:/out/clip.avi.avs"), "D:/out/clip.avi.dat");
    EXPECT_EQ(TimestampPathFor("/tmp/x.AVS"), "/tmp/x.dat");
    EXPECT_EQ(TimestampPathFor("/tmp/stream.bin"), "/tmp/stream.bin.dat");
    EXPECT_EQ(TimestampPathFor(".avs"), ".avs.dat");
}
