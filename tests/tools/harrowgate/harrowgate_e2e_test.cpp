// Runs the built Harrowgate on clips made with FFmpeg and judges the results with FFmpeg's
// AVS decoder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "process_for_tests.h"

using harrowgate_test::CommandResult;
using harrowgate_test::read_file;
using harrowgate_test::run;
using harrowgate_test::TempDir;

namespace {

const std::string kEncoder = std::string(AVS_BIN_DIR) + "/Harrowgate";

std::string quote(const std::string& s) {
    return "'" + s + "'";
}

void make_clip(const TempDir& dir, const std::string& name, const std::string& source, int frames,
               const std::string& extra = "") {
    const CommandResult r =
        run("ffmpeg -nostdin -v error -y -f lavfi -i " + quote(source) + " -frames:v " +
                std::to_string(frames) + " " + extra + " -c:v ffv1 " + quote(dir.file(name)),
            dir);
    ASSERT_EQ(r.exit_code, 0) << r.err;
}

CommandResult encode(const TempDir& dir, const std::string& source, const std::string& output,
                     const std::string& options) {
    return run(quote(kEncoder) + " " + quote(source) + " " + quote(output) + " " + options, dir);
}

// Decoder messages other than the one FFmpeg prints for every intra picture of any AVS
// stream (it re-reads the slice header after the picture and takes the first macroblock bit
// for a weighting flag; the public sample streams show it too).
std::string decoder_errors(const TempDir& dir, const std::string& avs) {
    const CommandResult r =
        run("ffmpeg -nostdin -v error -f cavsvideo -i " + quote(avs) + " -f null -", dir);
    std::istringstream lines(r.err);
    std::string unexpected;
    for (std::string line; std::getline(lines, line);)
        if (line.find("weighted prediction not yet supported") == std::string::npos &&
            line.find("Last message repeated") == std::string::npos)
            unexpected += line + "\n";
    if (r.exit_code != 0) unexpected += "exit code " + std::to_string(r.exit_code);
    return unexpected;
}

struct Decoded {
    int pictures = -1;
    int width = 0;
    int height = 0;
};

Decoded probe(const TempDir& dir, const std::string& avs) {
    const CommandResult r =
        run("ffprobe -v error -f cavsvideo -count_frames -show_entries "
            "stream=nb_read_frames,width,height -of csv=p=0 " +
                quote(avs),
            dir);
    Decoded d;
    char comma;
    std::istringstream(r.out) >> d.width >> comma >> d.height >> comma >> d.pictures;
    return d;
}

// Average PSNR of the decoded stream against the source (scaled by `filter` first).
double psnr(const TempDir& dir, const std::string& avs, const std::string& source,
            const std::string& filter = "null") {
    const CommandResult r =
        run("ffmpeg -nostdin -f cavsvideo -i " + quote(avs) + " -i " + quote(source) +
                " -lavfi '[0:v]settb=1/25,setpts=N[a];[1:v]" + filter +
                ",format=yuv420p,settb=1/25,setpts=N[b];[a][b]psnr' -f null -",
            dir);
    const size_t at = r.err.find("average:");
    if (at == std::string::npos) return -1;
    const std::string value = r.err.substr(at + 8, 8);
    return value.rfind("inf", 0) == 0 ? 1000 : std::atof(value.c_str());
}

std::vector<int32_t> time_stamps(const std::string& path) {
    const std::string bytes = read_file(path);
    std::vector<int32_t> values;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<uint8_t>(bytes[i + b]);
        values.push_back(static_cast<int32_t>(v));
    }
    EXPECT_EQ(bytes.size() % 4, 0u);
    return values;
}

std::vector<int> start_codes(const std::string& bytes) {
    std::vector<int> codes;
    for (size_t i = 0; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1)
            codes.push_back(static_cast<uint8_t>(bytes[i + 3]));
    return codes;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(HarrowgateProgram, TestPatternClipDecodesCompletely) {
    TempDir dir;
    make_clip(dir, "src.mkv", "testsrc2=size=352x288:rate=25", 50);
    const std::string out = dir.file("src.mkv.avs");
    const CommandResult r = encode(dir, dir.file("src.mkv"), out,
                                   " -c 1 -p 1 -g 12 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 "
                                   "-n 25.000000");
    ASSERT_EQ(r.exit_code, 0) << r.err;

    EXPECT_EQ(decoder_errors(dir, out), "");
    const Decoded d = probe(dir, out);
    EXPECT_EQ(d.pictures, 50);
    EXPECT_EQ(d.width, 352);
    EXPECT_EQ(d.height, 288);
    // Measured 48.5 dB at qp 24; the margin allows for scaler differences only.
    EXPECT_GT(psnr(dir, out, dir.file("src.mkv")), 45.0);

    // Units: a sequence header before every intra picture, one slice per picture, the end code.
    const std::vector<int> codes = start_codes(read_file(out));
    int headers = 0, intra = 0, predicted = 0, slices = 0;
    for (int c : codes) {
        headers += c == 0xB0;
        intra += c == 0xB3;
        predicted += c == 0xB6;
        slices += c == 0x00;
        EXPECT_TRUE(c == 0xB0 || c == 0xB3 || c == 0xB6 || c == 0x00 || c == 0xB1) << c;
    }
    EXPECT_EQ(intra, 5);  // pictures 0, 12, 24, 36, 48
    EXPECT_EQ(headers, 5);
    EXPECT_EQ(predicted, 45);
    EXPECT_EQ(slices, 50);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 0xB1);

    // One time stamp per picture, in milliseconds at 25 pictures per second.
    const std::vector<int32_t> stamps = time_stamps(dir.file("src.mkv.dat"));
    ASSERT_EQ(stamps.size(), 50u);
    for (size_t i = 0; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], static_cast<int32_t>(i * 40));

    // Progress: writes of five bytes, three blanks or digits before each '%', ending at 100.
    ASSERT_GE(r.out.size(), 10u);
    EXPECT_EQ(r.out.substr(r.out.size() - 6), "\r100%\n");
    int last = -1;
    for (size_t at = r.out.find('%'); at != std::string::npos; at = r.out.find('%', at + 1)) {
        ASSERT_GE(at, 4u);
        EXPECT_EQ(r.out[at - 4], '\r');
        const int value = std::atoi(r.out.substr(at - 3, 3).c_str());
        EXPECT_GT(value, last);
        last = value;
    }
    EXPECT_EQ(last, 100);
}

TEST(HarrowgateProgram, OddSizesScaleToWholeMacroblocks) {
    TempDir dir;
    // yuv444p keeps the odd size that 4:2:0 could not hold.
    make_clip(dir, "odd.mkv", "testsrc2=size=176x112:rate=30", 20,
              "-vf scale=175:97 -pix_fmt yuv444p");
    const std::string out = dir.file("odd.avs");
    CommandResult r = encode(dir, dir.file("odd.mkv"), out, "");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(decoder_errors(dir, out), "");
    Decoded d = probe(dir, out);
    EXPECT_EQ(d.pictures, 20);
    EXPECT_EQ(d.width, 176);
    EXPECT_EQ(d.height, 112);
    EXPECT_GT(psnr(dir, out, dir.file("odd.mkv"), "scale=176:112:flags=bicubic"), 35.0);
    // Frame rate from the source when -n is absent: 30 per second.
    const std::vector<int32_t> stamps = time_stamps(dir.file("odd.dat"));
    ASSERT_EQ(stamps.size(), 20u);
    EXPECT_EQ(stamps[3], 100);

    // -w and -h together pick the size, again rounded up.
    r = encode(dir, dir.file("odd.mkv"), dir.file("small.avs"), "-w 100 -h 50 -g 1");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    d = probe(dir, dir.file("small.avs"));
    EXPECT_EQ(d.width, 112);
    EXPECT_EQ(d.height, 64);
    EXPECT_EQ(d.pictures, 20);
    EXPECT_EQ(decoder_errors(dir, dir.file("small.avs")), "");
}

TEST(HarrowgateProgram, FlatColourIsExactAndTiny) {
    TempDir dir;
    make_clip(dir, "flat.mkv", "color=c=0x3060a0:size=320x240:rate=24", 24, "-pix_fmt yuv420p");
    const std::string out = dir.file("flat.avs");
    const CommandResult r = encode(dir, dir.file("flat.mkv"), out, "-g 18 -n 24");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(decoder_errors(dir, out), "");
    EXPECT_EQ(probe(dir, out).pictures, 24);
    EXPECT_GT(psnr(dir, out, dir.file("flat.mkv")), 60.0);
    // Repeated pictures are all skipped macroblocks: a few bytes each.
    EXPECT_LT(read_file(out).size(), 4000u);
}

TEST(HarrowgateProgram, FailuresAreOneLineAndLeaveNothingBehind) {
    TempDir dir;
    CommandResult r = encode(dir, dir.file("missing.avi"), dir.file("m.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("cannot open source"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(exists(dir.file("m.avs")));
    EXPECT_FALSE(exists(dir.file("m.dat")));

    const CommandResult made =
        run("ffmpeg -nostdin -v error -f lavfi -i sine=d=1 " + quote(dir.file("tone.wav")), dir);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    r = encode(dir, dir.file("tone.wav"), dir.file("t.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("no video stream"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir.file("t.avs")));

    make_clip(dir, "ok.mkv", "testsrc2=size=64x48:rate=25", 3);
    r = encode(dir, dir.file("ok.mkv"), dir.file("no-such-dir/o.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("cannot create output"), std::string::npos) << r.err;

    // A disk that fills up: everything is written to a device that refuses it.
    ASSERT_EQ(symlink("/dev/full", dir.file("full.avs").c_str()), 0);
    r = encode(dir, dir.file("ok.mkv"), dir.file("full.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("cannot write output"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir.file("full.dat")));

    r = encode(dir, dir.file("ok.mkv"), dir.file("o.avs"), "-q 99");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("-q"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir.file("o.avs")));
}

TEST(HarrowgateProgram, TimeStampsKeepTheVideoOffsetAgainstTheSound) {
    TempDir dir;
    // The video starts half a second after the sound.
    const CommandResult made =
        run("ffmpeg -nostdin -v error -f lavfi -i sine=d=2 -itsoffset 0.5 -f lavfi -i "
            "testsrc2=size=64x48:rate=25 -map 1:v -map 0:a -frames:v 10 -c:v ffv1 "
            "-c:a pcm_s16le " +
                quote(dir.file("late.mkv")),
            dir);
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const CommandResult r = encode(dir, dir.file("late.mkv"), dir.file("late.avs"), "-n 25");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<int32_t> stamps = time_stamps(dir.file("late.dat"));
    ASSERT_EQ(stamps.size(), 10u);
    EXPECT_GE(stamps[0], 480);
    EXPECT_LE(stamps[0], 560);
    for (size_t i = 1; i < stamps.size(); ++i) EXPECT_EQ(stamps[i] - stamps[i - 1], 40);
}

TEST(HarrowgateProgram, NeverOverwritesItsSource) {
    TempDir dir;
    make_clip(dir, "clip.avs", "testsrc2=size=64x48:rate=25", 3, "-f matroska");
    const std::string before = read_file(dir.file("clip.avs"));
    CommandResult r = encode(dir, dir.file("clip.avs"), dir.file("clip.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("is the source itself"), std::string::npos) << r.err;
    // The time-stamp file named from the output would be the source too.
    make_clip(dir, "other.dat", "testsrc2=size=64x48:rate=25", 3, "-f matroska");
    const std::string dat_before = read_file(dir.file("other.dat"));
    r = encode(dir, dir.file("other.dat"), dir.file("other.avs"), "");
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(read_file(dir.file("clip.avs")), before);
    EXPECT_EQ(read_file(dir.file("other.dat")), dat_before);
    EXPECT_FALSE(exists(dir.file("other.avs")));
}
