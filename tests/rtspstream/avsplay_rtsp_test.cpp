// avsplay playing an rtsp:// address as a user runs it: rtspserve serving a
// stream, Tallowmere.so registered in a temporary registry.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/rtsp/fake_server.h"
#include "tests/rtspstream/test_media.h"
#include "tools/rtspserve/media_index.h"

namespace {

const std::string kBin = AVS_BIN_DIR;
using Bytes = std::vector<uint8_t>;

struct Result {
    int code;
    std::string out;
};

Result Sh(const std::string& command) {
    Result r{-1, ""};
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

TEST(AvsplayRtsp, PlaysAStoredStreamSeeksAndRefusesADeadServer) {
    std::string dir = ::testing::TempDir() + "avsplay_rtsp";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("AVS_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    ASSERT_EQ(Sh(kBin + "/regsvr -s " + kBin + "/Tallowmere.so").code, 0);

    std::string url_file = dir + "/url.txt";
    std::string avs = rtspstreamtest::SampleAvs();
    std::string start =
        kBin + "/rtspserve --fast --quiet --port 0 '" + avs + "' > " + url_file + " & echo $!";
    Result server = Sh(start);
    int pid = std::atoi(server.out.c_str());
    ASSERT_GT(pid, 0);
    std::string url;
    for (int i = 0; i < 50 && url.empty(); ++i) {
        std::ifstream f(url_file);
        std::getline(f, url);
        if (url.empty()) Sh("sleep 0.1");
    }
    ASSERT_FALSE(url.empty());
    std::string stored = url.substr(0, url.rfind('/')) + "/clip.asm";

    Result played = Sh(kBin + "/avsplay " + stored + " --video " + dir + "/v.avs");
    EXPECT_EQ(played.code, 0) << played.out;
    // The header sample, then every picture, the last one too.
    auto index = rtspserve::IndexAvsFile(avs, nullptr);
    ASSERT_TRUE(index);
    Bytes file = ReadFile(avs);
    Bytes expected{0, 0, 1};
    expected.insert(expected.end(), index->sequence_header.begin(), index->sequence_header.end());
    const auto& last = index->pictures.back();
    expected.insert(expected.end(), file.begin(),
                    file.begin() + static_cast<std::ptrdiff_t>(last.offset + last.length));
    // Byte for byte: nothing was lost, so no picture goes out empty.
    EXPECT_EQ(ReadFile(dir + "/v.avs"), expected);
    EXPECT_NE(played.out.find("video: 101 samples"), std::string::npos) << played.out;

    Result sought = Sh(kBin + "/avsplay " + stored + " --seek 2 --video " + dir + "/v2.avs");
    EXPECT_EQ(sought.code, 0) << sought.out;
    EXPECT_NE(sought.out.find("first start 0.000000 s"), std::string::npos) << sought.out;
    EXPECT_LT(ReadFile(dir + "/v2.avs").size(), expected.size() * 3 / 4);

    Sh("kill " + std::to_string(pid));
    Result refused = Sh(kBin + "/avsplay " + stored);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.out.find("avsplay: cannot play " + stored), std::string::npos) << refused.out;
}

// Two players at once on one machine: the second cannot have the status
// port, and plays all the same. Then streams whose server does not end them
// by the usual rule: a clip shorter than 2 s and a connection closed early.
TEST(AvsplayRtsp, SecondPlayerAndServersThatEndEarly) {
    std::string dir = ::testing::TempDir() + "avsplay_rtsp_end";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("AVS_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    ASSERT_EQ(Sh(kBin + "/regsvr -s " + kBin + "/Tallowmere.so").code, 0);

    std::string url_file = dir + "/url.txt";
    // Paced: each play takes the clip's 4 s, so the two overlap.
    Result server = Sh(kBin + "/rtspserve --quiet --port 0 '" + rtspstreamtest::SampleAvs() +
                       "' > " + url_file + " & echo $!");
    int pid = std::atoi(server.out.c_str());
    ASSERT_GT(pid, 0);
    std::string url;
    for (int i = 0; i < 50 && url.empty(); ++i) {
        std::ifstream f(url_file);
        std::getline(f, url);
        if (url.empty()) Sh("sleep 0.1");
    }
    ASSERT_FALSE(url.empty());
    std::string stored = url.substr(0, url.rfind('/')) + "/clip.asm";
    std::string play = "timeout 30 " + kBin + "/avsplay " + stored;
    Result both = Sh("(" + play + " > " + dir + "/one.txt 2>&1; echo one $? >> " + dir +
                     "/codes) & sleep 0.5; " + play + " > " + dir +
                     "/two.txt 2>&1; echo two $? >> " + dir + "/codes; wait");
    Sh("kill " + std::to_string(pid));
    std::ifstream codes_file(dir + "/codes");
    std::string codes((std::istreambuf_iterator<char>(codes_file)), {});
    EXPECT_NE(codes.find("one 0"), std::string::npos) << codes;
    EXPECT_NE(codes.find("two 0"), std::string::npos) << codes;
    for (const char* name : {"/one.txt", "/two.txt"}) {
        std::ifstream f(dir + name);
        std::string out((std::istreambuf_iterator<char>(f)), {});
        EXPECT_NE(out.find("video: 101 samples"), std::string::npos) << name << ": " << out;
    }

    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "closed at 1 s of 60 s" : "1.5 s clip");
        rtsptest::StoredStream script;
        script.frames = 25;
        script.range = close ? "npt=0-60" : "npt=0-1.5";
        script.close = close;
        rtsptest::FakeServer fake(script);
        auto begun = std::chrono::steady_clock::now();
        Result r = Sh("timeout 20 " + kBin + "/avsplay " + fake.Url("/clip.asm"));
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_NE(r.out.find("video: 26 samples"), std::string::npos) << r.out;
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    }
}

}  // namespace
