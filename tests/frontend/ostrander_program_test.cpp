// Runs the built Ostrander headless with its scripting options over stand-in children.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "process/child_process.h"
#include "stand_ins.h"

namespace {

using avs::frontend::testing::FileExists;
using avs::frontend::testing::ReadFile;
using avs::frontend::testing::StandInDir;
using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
    int exit_code;
    std::string output;
};

class OstranderProgram : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QT_QPA_PLATFORM", "offscreen", 1); }

    // Starts the program from the stand-in directory, as a user would from its folder.
    Outcome Run(const std::string& arguments) {
        char old_dir[PATH_MAX];
        EXPECT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
        EXPECT_EQ(chdir(dir_.Path().c_str()), 0);
        avs::process::ChildProcess program;
        const auto started = program.Start("\"" AVS_BIN_DIR "/Ostrander\" " + arguments,
                                           avs::process::OutputMode::kPipe);
        EXPECT_EQ(chdir(old_dir), 0);
        EXPECT_EQ(started, avs::process::StartError::kNone);
        std::string output;
        char buf[512];
        for (;;) {
            const avs::process::ReadResult r = program.Read(buf);
            if (r.status == avs::process::ReadStatus::kData) {
                output.append(buf, r.bytes);
            } else if (r.status == avs::process::ReadStatus::kEnd) {
                break;
            } else {
                program.WaitForOutput(100);
            }
        }
        return {program.Wait(), output};
    }

    StandInDir dir_;
};

TEST_F(OstranderProgram, ConvertsTheGivenFilesAndQuits) {
    dir_.MakeSource("b.avi");
    dir_.MakeSource("a clip.avi");
    ASSERT_EQ(mkdir(dir_.File("out").c_str(), 0755), 0);
    const Outcome o =
        Run("--convert-ts --output \"" + dir_.File("out") + "\" b.avi \"a clip.avi\"");
    EXPECT_EQ(o.exit_code, 0) << o.output;
    for (const char* name : {"a clip.avi", "b.avi"}) {
        const std::string base = dir_.File("out/") + name;
        EXPECT_EQ(ReadFile(base + ".avsts"),
                  "avs of " + dir_.File(name) + "\nmp3 of " + dir_.File(name) + "\ndat\n");
        EXPECT_FALSE(FileExists(base + ".avs"));
        EXPECT_FALSE(FileExists(base + ".mp3"));
        EXPECT_FALSE(FileExists(base + ".dat"));
    }
    const auto log = dir_.LogLines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].substr(0, log[0].find('|', 11)), "Harrowgate|" + dir_.File("a clip.avi"));

    const Outcome asm_run = Run("--convert-asm b.avi");
    EXPECT_EQ(asm_run.exit_code, 0) << asm_run.output;
    EXPECT_EQ(ReadFile(dir_.File("b.avi.asm")),
              "avs of " + dir_.File("b.avi") + "\nmp3 of " + dir_.File("b.avi") + "\n");
}

TEST_F(OstranderProgram, FailuresAreReportedOnStandardErrorWithAnHonestCode) {
    Outcome o = Run("--convert-ts");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_THAT(o.output, HasSubstr("Ostrander: Please Open Media File(s)!"));

    o = Run("--convert-ts missing.avi");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_THAT(o.output, HasSubstr("Ostrander: no such file: missing.avi"));

    o = Run("--convert-ts --convert-asm x");
    EXPECT_EQ(o.exit_code, 2);

    dir_.MakeSource("c.avi");
    dir_.Remove("Harrowgate");
    o = Run("--convert-ts c.avi");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_THAT(o.output, HasSubstr("Ostrander: Create Process failed!"));
    EXPECT_THAT(o.output, Not(HasSubstr("Quenby")));
    EXPECT_TRUE(dir_.LogLines().empty());

    o = Run("--help");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_THAT(o.output, HasSubstr("--convert-ts"));
}

}  // namespace
