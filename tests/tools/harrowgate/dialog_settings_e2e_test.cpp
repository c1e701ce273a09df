// Runs the built Harrowgate with the command lines the front-end builds from its settings
// dialog's values (its own option and command-line builders), over a covering selection of
// the combinations the dialog can produce, and has FFmpeg decode every result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <sstream>
#include <tuple>

#include "frontend/child_command_lines.h"
#include "frontend/conversion_settings.h"
#include "frontend/video_options.h"
#include "process_for_tests.h"

using avs::frontend::ConversionSettings;
using harrowgate_test::CommandResult;
using harrowgate_test::ReadFile;
using harrowgate_test::RunCommand;
using harrowgate_test::TempDir;

namespace {

constexpr int kPictures = 25;

// The dialog's fields under test and the values each takes.
struct RateControl {
    int rate_control;  // the dialog's "off" 0, "on" 3
    int video_bitrate;
};
const int kProgressive[] = {0, 1};
const int kBframes[] = {0, 1, 2, 3, 100};
const RateControl kRateControl[] = {{0, 0}, {0, 500}, {3, 0}, {3, 500}};
const int kRdo[] = {0, 1};
const int kSearchRange[] = {0, 4, 32, 1024};
const int kThreads[] = {1, 2};
const int kLoopFilter[] = {0, 1};
const int kGop[] = {1, 2, 18};
constexpr int kFactors = 8;
const int kLevels[kFactors] = {2, 5, 4, 2, 4, 2, 2, 3};

// Indices into the value lists above, in their order: every pair of values of any two
// fields appears in some row (checked below), in 21 rows instead of the 3840 of the product.
const int kCoveringRows[][kFactors] = {
    {0, 4, 0, 0, 0, 0, 0, 0}, {1, 4, 1, 1, 3, 1, 1, 1}, {0, 0, 2, 1, 1, 1, 0, 2},
    {1, 1, 3, 0, 2, 0, 1, 2}, {1, 2, 1, 0, 1, 0, 0, 1}, {0, 2, 3, 1, 0, 1, 1, 0},
    {0, 3, 0, 1, 2, 1, 0, 1}, {1, 3, 2, 0, 3, 0, 1, 0}, {1, 0, 0, 0, 0, 0, 1, 1},
    {0, 1, 1, 1, 3, 0, 0, 0}, {0, 2, 0, 0, 3, 1, 0, 2}, {0, 3, 1, 0, 0, 0, 0, 2},
    {0, 1, 2, 0, 0, 1, 0, 1}, {0, 0, 3, 0, 1, 0, 0, 0}, {0, 1, 0, 0, 1, 0, 1, 0},
    {0, 0, 1, 0, 2, 0, 0, 0}, {0, 4, 2, 0, 2, 0, 0, 2}, {0, 0, 3, 0, 3, 0, 0, 1},
    {0, 3, 3, 0, 1, 0, 0, 0}, {0, 4, 3, 0, 1, 0, 0, 0}, {0, 2, 2, 0, 2, 0, 0, 0},
};

ConversionSettings SettingsOfRow(const int* row) {
    ConversionSettings s;  // the dialog's defaults for everything else
    s.progressive_sequence = kProgressive[row[0]];
    s.bframe_num = kBframes[row[1]];
    s.rate_control = kRateControl[row[2]].rate_control;
    s.video_bitrate = kRateControl[row[2]].video_bitrate;
    s.rdo = kRdo[row[3]];
    s.search_range = kSearchRange[row[4]];
    s.thread_num = kThreads[row[5]];
    s.loop_filter = kLoopFilter[row[6]];
    s.gop_length = kGop[row[7]];
    s.frame_rate = 25.0f;
    return s;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Runs the video stage as the front-end does: its command line from the start directory
// (the programs' folder), the result beside the source.
CommandResult RunVideoStage(const TempDir& dir, const std::string& source,
                            const ConversionSettings& settings, avs::frontend::SourceNames& names) {
    names = avs::frontend::DeriveSourceNames(source, settings.output_path);
    const std::string line = avs::frontend::VideoCommandLine(
        AVS_BIN_DIR, names, avs::frontend::BuildVideoOptions(settings));
    return RunCommand(line, dir);
}

struct DecodeResult {
    int pictures = 0;
    std::string errors;  // FFmpeg's messages but the one it prints for any AVS stream
};

// Every picture the decoder gives counts. The raw stream has no time stamps, so the ffmpeg
// program stamps pictures in decoding order; with B pictures the last reference picture, which
// the decoder gives at the end, then carries a stamp below the B pictures' before it and its
// frame-rate handling leaves it out (the rm52j sample: 99 of 100, ffprobe counts 100).
// Passing the pictures through unchanged keeps every one.
DecodeResult Decode(const TempDir& dir, const std::string& avs) {
    const CommandResult r = RunCommand("ffmpeg -nostdin -v error -f cavsvideo -i '" + avs +
                                           "' -fps_mode passthrough -f framemd5 -",
                                       dir);
    DecodeResult d;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);)
        if (!line.empty() && line[0] != '#') ++d.pictures;
    // FFmpeg prints "weighted prediction not yet supported" for the intra pictures of every
    // AVS stream, the public sample streams too: after a picture it reads the slice header
    // again and takes the first macroblock bit for a weighting flag. Anything else counts.
    std::istringstream err(r.err);
    for (std::string line; std::getline(err, line);)
        if (line.find("weighted prediction not yet supported") == std::string::npos &&
            line.find("Last message repeated") == std::string::npos)
            d.errors += line + "\n";
    if (r.exit_code != 0) d.errors += "exit code " + std::to_string(r.exit_code) + "\n";
    return d;
}

}  // namespace

TEST(DialogSettings, TheCoveringRowsHoldEveryPairOfValues) {
    std::set<std::tuple<int, int, int, int>> seen;
    for (const auto& row : kCoveringRows)
        for (int i = 0; i < kFactors; ++i) {
            ASSERT_LT(row[i], kLevels[i]);
            for (int j = i + 1; j < kFactors; ++j) seen.insert({i, row[i], j, row[j]});
        }
    size_t pairs = 0;
    for (int i = 0; i < kFactors; ++i)
        for (int j = i + 1; j < kFactors; ++j) pairs += kLevels[i] * kLevels[j];
    EXPECT_EQ(seen.size(), pairs);
}

TEST(DialogSettings, FfmpegDecodesEveryPictureOfEveryCombination) {
    TempDir dir;
    const std::string source = dir.File("clip.mkv");
    const CommandResult made =
        RunCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v " +
                       std::to_string(kPictures) + " -c:v ffv1 '" + source + "'",
                   dir);
    ASSERT_EQ(made.exit_code, 0) << made.err;

    for (const auto& row : kCoveringRows) {
        const ConversionSettings settings = SettingsOfRow(row);
        const std::string options = avs::frontend::BuildVideoOptions(settings);
        SCOPED_TRACE(options);
        avs::frontend::SourceNames names;
        const CommandResult r = RunVideoStage(dir, source, settings, names);
        // Every row is tried, so that one failure does not hide the others.
        EXPECT_EQ(r.exit_code, 0) << r.err;
        if (r.exit_code != 0) continue;
        EXPECT_EQ(r.out.substr(r.out.size() < 6 ? 0 : r.out.size() - 6), "\r100%\n");
        const DecodeResult d = Decode(dir, names.Avs());
        EXPECT_EQ(d.errors, "");
        // The decoder holds each reference picture back until the next one arrives and gives
        // the last at the end of the stream: every picture comes out.
        EXPECT_EQ(d.pictures, kPictures);
        EXPECT_EQ(ReadFile(names.Dat()).size(), 4u * kPictures);
        std::remove(names.Avs().c_str());
        std::remove(names.Dat().c_str());
    }

    // 4:2:2, the dialog's other chroma format, is outside the profile: refused in one line,
    // with nothing left behind.
    ConversionSettings settings = SettingsOfRow(kCoveringRows[0]);
    settings.chroma_format = 2;
    avs::frontend::SourceNames names;
    const CommandResult r = RunVideoStage(dir, source, settings, names);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("Harrowgate: option -c 2 (4:2:2) is not supported"), std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(Exists(names.Avs()));
    EXPECT_FALSE(Exists(names.Dat()));
}
