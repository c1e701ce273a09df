#include "process/child_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace avs::process {
namespace {

using Clock = std::chrono::steady_clock;

// Reads everything the child writes until the pipe breaks, waiting in between.
std::string Drain(ChildProcess& child) {
    std::string out;
    char buf[80];
    for (;;) {
        ReadResult r = child.Read(buf);
        if (r.status == ReadStatus::kData) {
            out.append(buf, r.bytes);
        } else if (r.status == ReadStatus::kEnd) {
            return out;
        } else {
            child.WaitForOutput(50);
        }
    }
}

TEST(ChildProcess, PipeCatchesOutputAndErrorsWithArgumentsIntact) {
    ChildProcess child;
    ASSERT_EQ(
        child.Start(R"(/bin/sh -c "printf '%s|' \"$0\" \"$1\"; echo err >&2; exit 3" "a b" c\"d)",
                    OutputMode::kPipe),
        StartError::kNone);
    EXPECT_TRUE(child.Started());
    EXPECT_EQ(Drain(child), "a b|c\"d|err\n");
    EXPECT_EQ(child.Wait(), 3);
    EXPECT_TRUE(child.HasExited());
    EXPECT_EQ(child.ExitCode(), 3);
}

TEST(ChildProcess, ReadsDoNotBlockWhileTheChildIsQuiet) {
    ChildProcess child;
    ASSERT_EQ(child.Start("/bin/sh -c \"sleep 1; echo late\"", OutputMode::kPipe),
              StartError::kNone);
    char buf[80];
    const auto t0 = Clock::now();
    EXPECT_EQ(child.Read(buf).status, ReadStatus::kEmpty);
    EXPECT_FALSE(child.HasExited());
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(200));
    // Waiting for output sleeps rather than returning at once.
    const auto t1 = Clock::now();
    child.WaitForOutput(100);
    EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(90));
    EXPECT_EQ(Drain(child), "late\n");
    EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcess, OutputWrittenBeforeTheEndIsStillReadable) {
    ChildProcess child;
    ASSERT_EQ(child.Start("/bin/sh -c \"echo one; echo two\"", OutputMode::kPipe),
              StartError::kNone);
    child.Wait();
    EXPECT_TRUE(child.HasExited());
    EXPECT_EQ(Drain(child), "one\ntwo\n");
    // A broken pipe is not waited on: WaitForOutput still sleeps its time-out.
    const auto t0 = Clock::now();
    child.WaitForOutput(60);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
}

TEST(ChildProcess, TerminateEndsTheChildAndWhatItStarted) {
    ChildProcess child;
    // The shell starts a long sleep that holds the pipe's write end too.
    ASSERT_EQ(child.Start("/bin/sh -c \"sleep 30; echo never\"", OutputMode::kPipe),
              StartError::kNone);
    const auto t0 = Clock::now();
    EXPECT_TRUE(child.Terminate());
    EXPECT_EQ(Drain(child), "");  // the pipe breaks: no helper keeps it open
    child.Wait();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(child.ExitCode(), 128 + 9);
    EXPECT_FALSE(child.Terminate());  // already collected: nothing to end
}

TEST(ChildProcess, StartFailuresAreReported) {
    ChildProcess missing;
    EXPECT_EQ(missing.Start("\"/nonexistent/dir/Harrowgate\" \"x\"", OutputMode::kPipe),
              StartError::kSpawn);
    EXPECT_FALSE(missing.Started());
    EXPECT_EQ(missing.StartErrno(), ENOENT);
    EXPECT_FALSE(missing.Terminate());
    EXPECT_EQ(missing.Wait(), -1);

    ChildProcess empty;
    EXPECT_EQ(empty.Start("   ", OutputMode::kInherit), StartError::kSpawn);
    EXPECT_EQ(empty.Start("\"\" arg", OutputMode::kInherit), StartError::kSpawn);
}

TEST(ChildProcess, InheritModeRunsInTheCurrentDirectory) {
    char tmpl[] = "/tmp/proc_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    char old_dir[4096];
    ASSERT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ChildProcess child;
    const StartError e = child.Start("/bin/sh -c \"pwd > where.txt\"", OutputMode::kInherit);
    ASSERT_EQ(chdir(old_dir), 0);
    ASSERT_EQ(e, StartError::kNone);
    EXPECT_EQ(child.Wait(), 0);
    char buf[80];
    EXPECT_EQ(child.Read(buf).status, ReadStatus::kEnd);  // no pipe in this mode
    FILE* f = fopen((dir + "/where.txt").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[4096] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    fclose(f);
    char real[4096];
    ASSERT_NE(realpath(dir.c_str(), real), nullptr);
    EXPECT_EQ(std::string(line), std::string(real) + "\n");
    unlink((dir + "/where.txt").c_str());
    rmdir(dir.c_str());
}

}  // namespace
}  // namespace avs::process
