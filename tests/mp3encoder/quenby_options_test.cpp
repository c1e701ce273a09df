// The command line of the real program: usage, option errors, exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "program_runner.h"

namespace {

using quenby_test::RunProgram;

const std::string kQuenby = AVS_BIN_DIR "/Quenby";
const std::string kUsage =
    "usage:  <options> <file>\n  Options:\n  -bitrate=<bitrate>\t\t\tCBR bitrate, VBR min bitrate\n"
    "  -Vbitrate=<Vbitrate>\t\t\tVBR Max bitrate\n  -samplerate=<samplerate>\t\tReSampleRate\n"
    "  -mode=<mode>\t\t\t\t\tSTEREO-0,JSTEREO-1,DUALCHANNEL-2,MONO-3\n"
    "  -help\t\t\t\t\t\tDisplay the Usage\n";

class QuenbyOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("quenby_opts_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(QuenbyOptions, UsageOnStandardErrorWithItsExitCode) {
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        bool diagnostic;  // the option parser's own line before the usage
    } cases[] = {
        {{}, 1, false},
        {{"in.avi"}, 1, false},
        {{"in.avi", "out.mp3", "-help"}, 0, false},
        {{"in.avi", "out.mp3", "--help"}, 0, false},
        {{"in.avi", "out.mp3", "-he"}, 0, false},  // unambiguous prefix
        {{"in.avi", "out.mp3", "-?"}, 0, false},
        {{"in.avi", "out.mp3", "-frobnicate"}, 0, true},
        {{"in.avi", "out.mp3", "-b"}, 1, true},  // value missing
        {{"-b", "128"}, 1, false},               // nothing left once the option is taken
    };
    for (const Case& c : cases) {
        const auto r = RunProgram(kQuenby, c.args, dir_);
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(r.exit_code, c.exit_code) << shown;
        EXPECT_EQ(r.out, "") << shown;
        ASSERT_GE(r.err.size(), kUsage.size()) << shown;
        EXPECT_EQ(r.err.substr(r.err.size() - kUsage.size()), kUsage) << shown;
        EXPECT_EQ(r.err.size() > kUsage.size(), c.diagnostic) << shown << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mp3"));
}

TEST_F(QuenbyOptions, ValuesWithoutANumberAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-b", "x"}, "Bad bitrate specified: x\n"},
        {{"-bitrate=kbps"}, "Bad bitrate specified: kbps\n"},
        {{"--bitrate="}, "Bad bitrate specified: \n"},
        {{"-samplerate=abc"}, "Bad samplerate specified: abc\n"},
        {{"-s", " ?"}, "Bad samplerate specified:  ?\n"},
        {{"-m", "z"}, "Bad mode specified: z\n"},
        {{"-mode", "-"}, "Bad mode specified: -\n"},
        {{"-Vbitrate", "q"}, "Bad VBR bitrate specified: q\n"},
        {{"-v", "x1"}, "Bad VBR bitrate specified: x1\n"},
        // A good value first does not save a bad one later.
        {{"-b", "128", "-b", "fast"}, "Bad bitrate specified: fast\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"in.avi", "out.mp3"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = RunProgram(kQuenby, args, dir_);
        EXPECT_EQ(r.exit_code, 1) << c.message;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(QuenbyOptions, ReadableValuesGoOnToTheRun) {
    // "%u" accepts trailing text and blanks; the run then fails on the missing source, which
    // shows the options were accepted.
    for (const auto& extra : std::vector<std::vector<std::string>>{
             {"-b", "128kbps"}, {"-bitrate=96", "-mode", "3"}, {"-v", " 192"}, {"--samp=22050"}}) {
        std::vector<std::string> args = {"missing.avi", "out.mp3"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = RunProgram(kQuenby, args, dir_);
        EXPECT_EQ(r.exit_code, 255) << extra[0];
        EXPECT_EQ(r.err, "") << extra[0];
        EXPECT_NE(r.out.find("Could not find the input file\r\n"), std::string::npos) << r.out;
    }
}

}  // namespace
