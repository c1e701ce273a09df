// Runs the built rtspserve program as a user would and plays from it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "rtspstream/rtsp_client_session.h"
#include "tests/rtspstream/frame_collector.h"

namespace {

using namespace std::chrono_literals;

const std::string kProgram = std::string(AVS_BIN_DIR) + "/rtspserve";
const std::string kVideo =
    std::string(AVS_TEST_DATA_DIR) + "/rm52j_cif352x288_25fps_IBBP_gop12_100f.avs";

struct ProgramRun {
    int status = -1;
    std::string out, err;
};

// Runs the program to its end with stdout and stderr captured.
ProgramRun RunToEnd(const std::string& args) {
    std::string err_path = ::testing::TempDir() + "rtspserve_err.txt";
    std::string command = kProgram + " " + args + " 2>" + err_path;
    ProgramRun r;
    std::FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    r.status = pclose(p);
    std::FILE* e = std::fopen(err_path.c_str(), "r");
    while (e && (n = std::fread(buffer, 1, sizeof buffer, e)) > 0) r.err.append(buffer, n);
    if (e) std::fclose(e);
    return r;
}

TEST(RtspserveProgram, HelpErrorsAndExitCodes) {
    ProgramRun help = RunToEnd("--help");
    EXPECT_EQ(WEXITSTATUS(help.status), 0);
    EXPECT_NE(help.out.find("usage: rtspserve"), std::string::npos);
    EXPECT_NE(help.out.find("--fast"), std::string::npos);

    ProgramRun missing = RunToEnd("/nonexistent/file.avs");
    EXPECT_EQ(WEXITSTATUS(missing.status), 1);
    EXPECT_EQ(missing.err.rfind("rtspserve: cannot open /nonexistent/file.avs", 0), 0u)
        << missing.err;
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);

    EXPECT_EQ(WEXITSTATUS(RunToEnd("--port 70000 " + kVideo).status), 2);
    EXPECT_EQ(WEXITSTATUS(RunToEnd("--bogus " + kVideo).status), 2);
    EXPECT_EQ(WEXITSTATUS(RunToEnd("").status), 2);
}

TEST(RtspserveProgram, ServesUntilTerminated) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(kProgram.c_str(), "rtspserve", "--quiet", "--fast", "--port", "0", kVideo.c_str(),
              nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string url;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') url += c;
    close(out[0]);
    ASSERT_EQ(url.rfind("rtsp://127.0.0.1:", 0), 0u) << url;

    {
        rtspstream::RtspClientSession session;
        rtspstreamtest::FrameCollector frames;
        frames.Attach(session);
        ASSERT_TRUE(session.Connect(url));
        EXPECT_DOUBLE_EQ(session.duration(), 4.0);
        ASSERT_TRUE(session.Play());
        EXPECT_TRUE(frames.WaitFor([](const auto& f) { return f.size() >= 100; }, 10s));
        EXPECT_TRUE(session.Teardown());
    }
    kill(pid, SIGTERM);
    int status = 0;
    auto start = std::chrono::steady_clock::now();
    while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(WIFEXITED(status)) << "rtspserve did not end on SIGTERM";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
