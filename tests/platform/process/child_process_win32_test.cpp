#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "process/child_process.h"
#include "process/command_line.h"
#include "process/current_directory.h"

namespace avs::process {
namespace {

using Clock = std::chrono::steady_clock;

std::string ChildPath() {
    return std::string(AVS_BIN_DIR_WIN) + "\\process_test_child.exe";
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

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

// The child's C run-time splits the line as SplitCommandLine does on the other platforms.
TEST(ChildProcessWin32, PipeCatchesBothStreamsAndTheRunTimeSplitsAsWeDo) {
    const std::string tail = R"( args "E:\v\my clip.avi" "D:\out\my clip.avi.avs"  -c 1 a\"b c\\)";
    const std::string line = Quoted(ChildPath()) + tail;
    ChildProcess child;
    ASSERT_EQ(child.Start(line, OutputMode::kPipe), StartError::kNone);
    EXPECT_TRUE(child.Started());
    std::string expected;
    const std::vector<std::string> split = SplitCommandLine(line);
    ASSERT_GE(split.size(), 2u);
    for (size_t i = 2; i < split.size(); ++i) expected += split[i] + "|";
    EXPECT_EQ(expected, R"(E:\v\my clip.avi|D:\out\my clip.avi.avs|-c|1|a"b|c\\|)");
    EXPECT_EQ(Drain(child), expected + "err\r\n");  // text-mode stderr
    EXPECT_EQ(child.Wait(), 3);
    EXPECT_TRUE(child.HasExited());
    EXPECT_EQ(child.ExitCode(), 3);
}

TEST(ChildProcessWin32, EmptyReadsReturnAtOnceAndWaitsAreBounded) {
    ChildProcess child;
    ASSERT_EQ(child.Start(Quoted(ChildPath()) + " late 1000 late", OutputMode::kPipe),
              StartError::kNone);
    char buf[80];
    const auto t0 = Clock::now();
    EXPECT_EQ(child.Read(buf).status, ReadStatus::kEmpty);
    EXPECT_FALSE(child.HasExited());
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(200));
    const auto t1 = Clock::now();
    child.WaitForOutput(100);
    const auto waited = Clock::now() - t1;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::milliseconds(600));
    EXPECT_EQ(Drain(child), "late\r\n");  // text-mode stdio in the child
    EXPECT_EQ(child.Wait(), 0);
}

TEST(ChildProcessWin32, OutputLeftInThePipeIsReadAfterTheEnd) {
    ChildProcess child;
    ASSERT_EQ(child.Start(Quoted(ChildPath()) + " late 0 done", OutputMode::kPipe),
              StartError::kNone);
    child.Wait();
    EXPECT_TRUE(child.HasExited());
    EXPECT_EQ(Drain(child), "done\r\n");
}

// A child that ends with the code that also means "still running" has still ended.
TEST(ChildProcessWin32, AnEndWithCode259IsAnEnd) {
    ChildProcess child;
    ASSERT_EQ(child.Start(Quoted(ChildPath()) + " code 259", OutputMode::kPipe), StartError::kNone);
    child.Wait();
    EXPECT_TRUE(child.HasExited());
    EXPECT_EQ(child.ExitCode(), 259);
}

TEST(ChildProcessWin32, TerminateEndsTheChildWithCodeZero) {
    ChildProcess child;
    ASSERT_EQ(child.Start(Quoted(ChildPath()) + " late 30000 never", OutputMode::kPipe),
              StartError::kNone);
    const auto t0 = Clock::now();
    EXPECT_TRUE(child.Terminate());
    EXPECT_EQ(Drain(child), "");
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_FALSE(child.Terminate());
}

TEST(ChildProcessWin32, StartFailuresAreReported) {
    ChildProcess missing;
    EXPECT_EQ(missing.Start("\"C:\\no\\such\\dir\\Harrowgate.exe\" \"x\"", OutputMode::kPipe),
              StartError::kSpawn);
    EXPECT_FALSE(missing.Started());
    EXPECT_NE(missing.StartErrno(), 0);
    EXPECT_FALSE(missing.Terminate());
    EXPECT_EQ(missing.Wait(), -1);
    ChildProcess waited;
    EXPECT_EQ(waited.Start("\"C:\\no\\such\\dir\\Korvel.exe\"", OutputMode::kInherit),
              StartError::kSpawn);
    EXPECT_EQ(waited.Wait(), -1);
}

TEST(ChildProcessWin32, ChildrenStartInTheCurrentDirectory) {
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    std::string dir = std::string(temp) + "proc test " + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    const std::string old_dir = CurrentDirectory();
    ASSERT_TRUE(ChangeCurrentDirectory(dir));
    ChildProcess child;
    const StartError e = child.Start(Quoted(ChildPath()) + " cwd", OutputMode::kPipe);
    EXPECT_TRUE(ChangeCurrentDirectory(old_dir));
    ASSERT_EQ(e, StartError::kNone);
    const std::string where = Drain(child);
    child.Wait();
    char full[MAX_PATH] = {};
    GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
    EXPECT_EQ(where, std::string(full) + "\r\n");
    EXPECT_FALSE(ChangeCurrentDirectory(dir + "\\missing"));
    RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace avs::process
