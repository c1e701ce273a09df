#include "frontend/child_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "fake_ui.h"
#include "stand_ins.h"

namespace avs::frontend {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeUi;
using testing::StandInDir;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

TEST(ChildRunner, VideoStagePercentagesMoveBarAndLabel) {
    StandInDir dir;
    dir.SetProgress("Harrowgate", {"  7%%\\n", "50%%\\n", " 101%%\\n", "100%%\\n", "9%%abcd\\n"});
    FakeUi ui;
    ChildRunner runner(ui);
    const std::string line = Quoted(dir.File("Harrowgate")) + " " +
                             Quoted(dir.MakeSource("a.avi")) + " " + Quoted(dir.File("a.avi.avs"));
    EXPECT_EQ(runner.RunPipedChild(line, kVideoStage), PipedOutcome::kEnded);
    // 7 -> 6; the 4-byte read is not scanned; 101 is ignored; 100 -> 95; "9%" at the start -> 8;
    // then the stage's end value.
    EXPECT_THAT(ui.Progress(), ElementsAre("bar 6", "label 6%", "bar 95", "label 95%", "bar 8",
                                           "label 8%", "bar 95", "label 95%"));
    EXPECT_FALSE(runner.Running());
    EXPECT_TRUE(testing::FileExists(dir.File("a.avi.dat")));
}

TEST(ChildRunner, AudioStageReadsQuenbyLines) {
    StandInDir dir;
    dir.SetProgress("Quenby", {"\\rProgress:\\t  42%%", "\\rProgress:\\t100%%"});
    FakeUi ui;
    ChildRunner runner(ui);
    runner.RunPipedChild(Quoted(dir.File("Quenby")) + " \"x\" " + Quoted(dir.File("x.mp3")),
                         kAudioStage);
    EXPECT_THAT(ui.Progress(),
                ElementsAre("bar 96", "label 96%", "bar 95", "label 95%", "bar 99", "label 99%"));
}

TEST(ChildRunner, OutputLeftInThePipeAfterTheEndIsStillShown) {
    StandInDir dir;
    // Two full reads' worth written at once, then the child ends at once.
    const std::string script = dir.File("burst");
    testing::WriteFile(script, "#!/bin/sh\nprintf '%074d  33%%\\n%074d  77%%\\n' 0 0\n");
    chmod(script.c_str(), 0755);
    FakeUi ui;
    ChildRunner runner(ui);
    runner.RunPipedChild(Quoted(script), kVideoStage);
    EXPECT_THAT(ui.Progress(),
                ElementsAre("bar 31", "label 31%", "bar 73", "label 73%", "bar 95", "label 95%"));
}

TEST(ChildRunner, PollLoopWaitsInsteadOfSpinning) {
    StandInDir dir;
    const std::string script = dir.File("quiet");
    testing::WriteFile(script, "#!/bin/sh\nsleep 1.5\n");
    chmod(script.c_str(), 0755);
    FakeUi ui;
    ChildRunner runner(ui);
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    runner.RunPipedChild(Quoted(script), kVideoStage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    EXPECT_GE(wall, 1.4);
    // A spinning loop burns the whole 1.5 s; a waiting one a few milliseconds.
    EXPECT_LT(cpu, 0.25 * wall) << "cpu " << cpu << " s over " << wall << " s";
    // Events are still pumped often: at least every 50 ms on average.
    EXPECT_GT(ui.pumps, static_cast<long>(wall * 20));
    EXPECT_LT(runner.LastPollPasses(),
              static_cast<long>(wall * 1000 / ChildRunner::kPollWaitMs) + 50);
    RecordProperty("cpu_ms", static_cast<int>(cpu * 1000));
    RecordProperty("poll_passes", static_cast<int>(runner.LastPollPasses()));
    std::printf("quiet 1.5 s child: %.3f s wall, %.4f s cpu, %ld passes, %ld pumps\n", wall, cpu,
                runner.LastPollPasses(), ui.pumps);
}

TEST(ChildRunner, TerminateFromANestedHandlerEndsTheStage) {
    StandInDir dir;
    const std::string script = dir.File("long");
    testing::WriteFile(script, "#!/bin/sh\nprintf '  12%%\\n'\nsleep 30\nprintf ' 100%%\\n'\n");
    chmod(script.c_str(), 0755);
    FakeUi ui;
    ChildRunner runner(ui);
    EXPECT_FALSE(runner.Running());
    runner.TerminateRunning();  // nothing runs: nothing happens
    bool terminated = false;
    ui.on_pump = [&] {
        EXPECT_TRUE(runner.Running());
        // Exit once the first percentage is on show.
        if (!terminated && !ui.Progress().empty()) {
            terminated = true;
            runner.TerminateRunning();
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    runner.RunPipedChild(Quoted(script), kVideoStage);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_THAT(ui.Progress(), ElementsAre("bar 11", "label 11%", "bar 95", "label 95%"));
    EXPECT_FALSE(runner.Running());
}

TEST(ChildRunner, MissingPrograms) {
    FakeUi ui;
    ChildRunner runner(ui);
    EXPECT_EQ(runner.RunPipedChild("\"/nonexistent/Harrowgate\" \"a\" \"b\"", kVideoStage),
              PipedOutcome::kFatal);
    EXPECT_THAT(ui.shown, ElementsAre("message Create Process failed!"));
    EXPECT_FALSE(runner.Running());

    FakeUi quiet;
    ChildRunner waited(quiet);
    const auto t0 = std::chrono::steady_clock::now();
    waited.RunChildAndWait("\"/nonexistent/Lindqvale\" \"a\" \"b\" -f");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_TRUE(quiet.shown.empty());  // skipped without a word
    EXPECT_FALSE(waited.Running());
}

TEST(ChildRunner, WaitedRunBlocksUntilTheEndWithoutPumping) {
    StandInDir dir;
    const std::string script = dir.File("slow");
    testing::WriteFile(script, "#!/bin/sh\nsleep 0.5\necho done > \"$1\"\n");
    chmod(script.c_str(), 0755);
    FakeUi ui;
    ChildRunner runner(ui);
    runner.RunChildAndWait(Quoted(script) + " " + Quoted(dir.File("out.txt")));
    EXPECT_EQ(testing::ReadFile(dir.File("out.txt")), "done\n");
    EXPECT_EQ(ui.pumps, 0);
    EXPECT_TRUE(ui.shown.empty());
}

}  // namespace
}  // namespace avs::frontend
