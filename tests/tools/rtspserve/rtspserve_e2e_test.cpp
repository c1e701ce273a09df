// Runs the built rtspserve program as a user would and plays from it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "rtspstream/rtsp_client_session.h"
#include "tests/rtspstream/frame_collector.h"
#include "tests/tools/rtspserve/raw_client.h"

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

    EXPECT_NE(help.out.find("--max-connections N"), std::string::npos);
    EXPECT_NE(help.out.find("--idle-timeout S"), std::string::npos);
    EXPECT_EQ(WEXITSTATUS(RunToEnd("--max-connections 0 " + kVideo).status), 2);
    EXPECT_EQ(WEXITSTATUS(RunToEnd("--idle-timeout x " + kVideo).status), 2);

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
        EXPECT_DOUBLE_EQ(session.Duration(), 4.0);
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

// The program running in a child process: its standard output is read for the address,
// its standard error goes to a pipe the test reads only when it chooses.
struct Child {
    pid_t pid = -1;
    uint16_t port = 0;
    int err = -1;  // read end of its standard error

    // Starts rtspserve with `args`, at most `descriptors` open files when non-zero.
    bool Start(const std::vector<std::string>& args, rlim_t descriptors = 0) {
        int out[2], e[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(e, O_CLOEXEC) != 0) return false;
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            dup2(out[1], 1);
            dup2(e[1], 2);
            close(out[0]);
            close(e[0]);
            close(out[1]);
            close(e[1]);
            if (descriptors) {
                rlimit limit{descriptors, descriptors};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>("rtspserve")};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(kProgram.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(e[1]);
        err = e[0];
        std::string url;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') url += c;
        close(out[0]);
        size_t colon = url.rfind(':');
        if (url.rfind("rtsp://127.0.0.1:", 0) != 0 || colon == std::string::npos) return false;
        port = static_cast<uint16_t>(std::atoi(url.c_str() + colon + 1));
        return true;
    }

    // SIGTERM, then the exit status when it ends within `limit`; -1 otherwise (it is
    // killed then).
    int Terminate(std::chrono::milliseconds limit) {
        kill(pid, SIGTERM);
        int status = 0;
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    // Processor time (user and system) it has used so far.
    std::chrono::milliseconds CpuTime() const {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::stoll(field);
        return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
    }

    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (err >= 0) close(err);
    }
};

std::string Url(uint16_t port) {
    return "rtsp://127.0.0.1:" + std::to_string(port) + "/x.avs";
}

int Status(const std::optional<rtsp::Message>& reply) {
    return reply ? reply->status_code : -1;
}

// A client that plays the whole stream; true when all 100 pictures arrived.
bool PlaysWhole(uint16_t port) {
    rtspservetest::RawClient c;
    if (!c.Connect(port)) return false;
    if (Status(c.Request("SETUP", Url(port) + "/trackID=1",
                         "Transport: RTP/AVP/TCP;interleaved=0-1\r\n")) != 200)
        return false;
    if (Status(c.Request("PLAY", Url(port), "Session: " + c.session + "\r\n")) != 200) return false;
    if (!c.WaitBye(5s) || c.Pictures() != 100) return false;
    // The sender report at the start tells the wall-clock time (NTP seconds since 1900).
    const auto now = static_cast<uint64_t>(std::time(nullptr)) + 2208988800u;
    return c.ReportSeconds() + 60 > now && c.ReportSeconds() < now + 60;
}

TEST(RtspserveProgram, AnUnreadLogHoldsUpNoConnectionNorTheEnd) {
    Child server;
    ASSERT_TRUE(server.Start({"--fast", "--port", "0", kVideo}));
    // Standard error is never read: a pipe holds 64 KiB, these requests log far more.
    rtspservetest::RawClient talker;
    ASSERT_TRUE(talker.Connect(server.port));
    int answered = 0;
    for (; answered < 3000; ++answered)
        if (Status(talker.Request("OPTIONS", Url(server.port))) != 200) break;
    EXPECT_EQ(answered, 3000);
    EXPECT_TRUE(PlaysWhole(server.port));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server.Terminate(5s), 0) << "rtspserve did not end on SIGTERM";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    // When standard error is read again, what was dropped is counted there.
    Child again;
    ASSERT_TRUE(again.Start({"--fast", "--port", "0", kVideo}));
    rtspservetest::RawClient c;
    ASSERT_TRUE(c.Connect(again.port));
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(Status(c.Request("OPTIONS", Url(again.port))), 200);
    std::string log;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(again.err, buffer, sizeof buffer)) > 0) log.append(buffer, n);
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Status(c.Request("OPTIONS", Url(again.port))), 200);
    c.Close();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(again.Terminate(5s), 0);
    reader.join();
    EXPECT_NE(log.find(" log lines dropped"), std::string::npos);
    EXPECT_GE(std::count(log.begin(), log.end(), '\n'), 1000) << log.substr(0, 2000);
    EXPECT_NE(log.find("rtspserve: stopping\n"), std::string::npos) << log.substr(log.size() - 500);
}

TEST(RtspserveProgram, RunningOutOfDescriptorsNeitherSpinsNorShutsClientsOut) {
    const auto k_cpu_limit = 300ms;  // of a 1 s window
    {
        // 30 idle connections under a 64-descriptor limit, then one more client.
        Child server;
        ASSERT_TRUE(server.Start({"--quiet", "--fast", "--port", "0", kVideo}, 64));
        std::vector<std::unique_ptr<rtspservetest::RawClient>> idle;
        for (int i = 0; i < 30; ++i) {
            idle.push_back(std::make_unique<rtspservetest::RawClient>());
            ASSERT_TRUE(idle.back()->Connect(server.port));
        }
        rtspservetest::RawClient late;
        ASSERT_TRUE(late.Connect(server.port));
        late.Send("OPTIONS", Url(server.port));
        std::this_thread::sleep_for(200ms);
        auto cpu = server.CpuTime();
        std::this_thread::sleep_for(1s);
        EXPECT_LT(server.CpuTime() - cpu, k_cpu_limit);
        EXPECT_EQ(Status(late.Reply()), 200);
        EXPECT_TRUE(PlaysWhole(server.port));
        EXPECT_EQ(server.Terminate(5s), 0);
    }
    {
        // More clients than there are descriptors: those that cannot be served are told so,
        // it does not spin meanwhile, and once they leave new clients are served.
        Child server;
        ASSERT_TRUE(server.Start(
            {"--quiet", "--fast", "--port", "0", "--max-connections", "200", kVideo}, 64));
        std::vector<std::unique_ptr<rtspservetest::RawClient>> clients;
        for (int i = 0; i < 80; ++i) {
            clients.push_back(std::make_unique<rtspservetest::RawClient>());
            ASSERT_TRUE(clients.back()->Connect(server.port));
            clients.back()->Send("OPTIONS", Url(server.port));
        }
        std::this_thread::sleep_for(200ms);
        auto cpu = server.CpuTime();
        std::this_thread::sleep_for(1s);
        EXPECT_LT(server.CpuTime() - cpu, k_cpu_limit);
        int served = 0, refused = 0;
        for (auto& c : clients) {
            int status = Status(c->Reply(2s));
            served += status == 200;
            refused += status == 503;
        }
        EXPECT_GT(served, 40);
        EXPECT_GT(refused, 5);
        EXPECT_EQ(served + refused, 80);
        clients.clear();
        bool plays = false;
        for (auto end = std::chrono::steady_clock::now() + 3s;
             !plays && std::chrono::steady_clock::now() < end;)
            plays = PlaysWhole(server.port);
        EXPECT_TRUE(plays);
        EXPECT_EQ(server.Terminate(5s), 0);
    }
}

}  // namespace
