// avsplay as a user runs it: the module registered in a temporary registry,
// containers made by Lindqvale from real and generated AVS streams and MP3s,
// played through the graph; what comes out is compared with what went in.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "avs/byte_source.h"
#include "avs/unit_reader.h"
#include "mux/mpeg_audio_header.h"
#include "synthetic_avs.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kBin = AVS_BIN_DIR;
const std::string kData = AVS_TEST_DATA_DIR;

struct Result {
    int code;
    std::string out;
};

Result Sh(const std::string& command) {
    Result r{-1, ""};
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Q(const std::string& s) {
    return "'" + s + "'";
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

// The MP3's frames: everything after the ID3v2 tag, cut at frame lengths.
Bytes Mp3Frames(const std::string& path, size_t* count) {
    Bytes b = ReadFile(path);
    size_t pos = 0;
    if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3')
        pos = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
    const size_t first = pos;
    *count = 0;
    while (pos + 4 <= b.size()) {
        const uint32_t raw =
            uint32_t(b[pos]) << 24 | b[pos + 1] << 16 | b[pos + 2] << 8 | b[pos + 3];
        const uint32_t len = mux::FrameLength(mux::ParseMpegAudioHeader(raw));
        if ((raw & 0xFFE00000) != 0xFFE00000 || len == 0 || pos + len > b.size()) break;
        pos += len;
        ++*count;
    }
    return Bytes(b.begin() + first, b.begin() + pos);
}

// The units of an elementary stream, as the shared reader cuts them.
std::vector<Bytes> UnitsOf(const std::string& path) {
    std::vector<Bytes> units;
    FILE* f = fopen(path.c_str(), "rb");
    avs::FileByteSource src(f);
    avs::AvsUnitReader reader(src);
    while (reader.Next()) units.emplace_back(reader.Data(), reader.Data() + reader.UnitLength());
    fclose(f);
    return units;
}

struct LogLine {
    std::string stream, start, stop;
    int sync = 0, discontinuity = 0;
    long length = 0;
};

std::vector<LogLine> ReadLog(const std::string& path, const std::string& stream) {
    std::ifstream f(path);
    std::string line;
    std::vector<LogLine> out;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream in(line);
        LogLine l;
        in >> l.stream >> l.start >> l.stop >> l.sync >> l.discontinuity >> l.length;
        if (l.stream == stream) out.push_back(l);
    }
    return out;
}

class Avsplay : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/avsplay-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        ::setenv("AVS_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
        Result r = Sh(Q(kBin + "/regsvr") + " " + Q(kBin + "/BranwickSource.so"));
        ASSERT_EQ(0, r.code) << r.out;
    }
    void TearDown() override {
        ::unsetenv("AVS_REGISTRY");
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string MakeMp3(const std::string& name, const std::string& args) {
        const std::string out = Path(name);
        Result r = Sh("ffmpeg -v error -y -f lavfi -i " + args + " -c:a libmp3lame " + Q(out));
        EXPECT_EQ(r.code, 0) << r.out;
        return out;
    }
    // Lindqvale twice: the video, then the audio.
    std::string MakeAsm(const std::string& avs, const std::string& mp3) {
        const std::string out = Path("clip.asm");
        Result r = Sh(Q(kBin + "/Lindqvale") + " " + Q(avs) + " " + Q(out) + " -f");
        EXPECT_EQ(0, r.code) << r.out;
        r = Sh(Q(kBin + "/Lindqvale") + " " + Q(mp3) + " " + Q(out));
        EXPECT_EQ(0, r.code) << r.out;
        return out;
    }
    Result Play(const std::string& args) { return Sh(Q(kBin + "/avsplay") + " " + args); }
    std::string dir_;
};

struct Case {
    std::string avs;
    int64_t tick, timescale;  // picture duration in the container's video time scale
    uint32_t rate, frame_samples;
};

TEST_F(Avsplay, RoundTripGivesBackEveryUnitAndFrameWithTheirTimes) {
    // Generated streams at other frame rates, with repeated sequence headers.
    avs::synthetic::SequenceFields f30;
    f30.frame_rate_code = 4;  // 30000/1001
    WriteFile(Path("gen30.avs"), avs::synthetic::Stream(f30, 37, 3, 60, 12, 5));
    avs::synthetic::SequenceFields f50;
    f50.frame_rate_code = 6;  // 50
    WriteFile(Path("gen50.avs"), avs::synthetic::Stream(f50, 29, 2, 40, 7, 6));
    const std::vector<Case> cases = {
        {kData + "/xavs_cif352x288_25fps_IBP_100f.avs", 3600, 90000, 44100, 1152},
        {kData + "/rm52j_cif352x288_25fps_IBBP_gop12_100f.avs", 3600, 90000, 48000, 1152},
        {Path("gen30.avs"), 1001, 30000, 22050, 576},
        {Path("gen50.avs"), 1800, 90000, 32000, 1152},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.avs);
        const std::string mp3 =
            MakeMp3("a.mp3", "sine=frequency=330:duration=1.5 -ar " + std::to_string(c.rate));
        const std::string asm_file = MakeAsm(c.avs, mp3);
        Result r = Play(Q(asm_file) + " --video " + Q(Path("v.out")) + " --audio " +
                        Q(Path("a.out")) + " --log " + Q(Path("log")) +
                        (c.avs.find("gen") == std::string::npos ? " --decode" : ""));
        ASSERT_EQ(0, r.code) << r.out;

        // Video: the sequence header alone, then the stream unit for unit.
        const std::vector<Bytes> units = UnitsOf(c.avs);
        ASSERT_FALSE(units.empty());
        Bytes es;
        for (const Bytes& u : units) es.insert(es.end(), u.begin(), u.end());
        const Bytes video = ReadFile(Path("v.out"));
        const size_t header = units[0].size();
        ASSERT_GT(video.size(), header);
        EXPECT_TRUE(std::equal(units[0].begin(), units[0].end(), video.begin()));
        EXPECT_TRUE(Bytes(video.begin() + header, video.end()) == es)
            << "delivered video differs from the stream's units";

        size_t frames = 0;
        EXPECT_TRUE(ReadFile(Path("a.out")) == Mp3Frames(mp3, &frames));

        const auto v = ReadLog(Path("log"), "video");
        ASSERT_GE(v.size(), 2u);
        EXPECT_EQ("0", v[0].start);
        EXPECT_EQ(0, v[0].sync);
        EXPECT_EQ(long(header), v[0].length);
        size_t pictures = 0;
        for (size_t i = 1; i < v.size(); ++i, ++pictures) {
            const int64_t start = int64_t(double((i - 1) * c.tick) / double(c.timescale) * 1e7);
            EXPECT_EQ(std::to_string(start), v[i].start) << i;
            EXPECT_EQ(1, v[i].sync) << i;
            EXPECT_EQ(i == 1 ? 1 : 0, v[i].discontinuity) << i;
        }
        const auto a = ReadLog(Path("log"), "audio");
        ASSERT_EQ(frames, a.size());
        for (size_t i = 0; i < a.size(); ++i) {
            const int64_t start = int64_t(double(i * c.frame_samples) / c.rate * 1e7);
            EXPECT_EQ(std::to_string(start), a[i].start) << i;
            EXPECT_EQ(1, a[i].sync);
            EXPECT_EQ(i == 0 ? 1 : 0, a[i].discontinuity);
        }
        EXPECT_NE(r.out.find("video: " + std::to_string(pictures + 1) + " samples, " +
                             std::to_string(video.size()) + " bytes"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("audio: " + std::to_string(frames) + " samples"), std::string::npos)
            << r.out;
        EXPECT_EQ(2u, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;
        EXPECT_NE(r.out.find(", end of stream"), std::string::npos);
        if (c.avs.find("gen") == std::string::npos) {
            EXPECT_NE(
                r.out.find("decoded " + std::to_string(pictures) + " pictures, 0 decoding errors"),
                std::string::npos)
                << r.out;
        }
    }
}

TEST_F(Avsplay, SeekStartsAtAKeyFrameAndTheAudioFollows) {
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=4.2");
    const std::string asm_file = MakeAsm(kData + "/xavs_cif352x288_25fps_IBP_100f.avs", mp3);
    Result r = Play(Q(asm_file) + " --seek 2 --video " + Q(Path("v.out")) + " --log " +
                    Q(Path("log")) + " --decode");
    ASSERT_EQ(0, r.code) << r.out;
    const auto v = ReadLog(Path("log"), "video");
    ASSERT_GE(v.size(), 2u);
    // The first picture after the header starts the new time line at 0.
    EXPECT_EQ("0", v[1].start);
    EXPECT_EQ(1, v[1].discontinuity);
    const auto a = ReadLog(Path("log"), "audio");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(1, a[0].discontinuity);
    // The audio is placed in proportion to the same offset and shifted by it:
    // it starts within two frames (26 ms each) before 0.
    EXPECT_LE(std::stoll(a[0].start), 0);
    EXPECT_GE(std::stoll(a[0].start), -2 * 261225);
    // What was delivered decodes cleanly from its key frame on.
    EXPECT_NE(r.out.find(" 0 decoding errors"), std::string::npos) << r.out;
    const Bytes es = ReadFile(kData + "/xavs_cif352x288_25fps_IBP_100f.avs");
    const Bytes video = ReadFile(Path("v.out"));
    ASSERT_GT(video.size(), 1000u);
    EXPECT_TRUE(std::equal(video.end() - 1000, video.end(), es.end() - 1000));
    EXPECT_LT(video.size(), es.size());
}

TEST_F(Avsplay, BadInputAndBadOptionsGiveOneLineAndAnExitCode) {
    Result r = Play("");
    EXPECT_EQ(2, r.code);
    EXPECT_NE(r.out.find("usage: avsplay INPUT"), std::string::npos);
    r = Play("--help");
    EXPECT_EQ(0, r.code);
    EXPECT_NE(r.out.find("--decode"), std::string::npos);
    EXPECT_EQ(2, Play("x.asm --seek -3").code);
    EXPECT_EQ(2, Play("x.asm --seek abc").code);
    EXPECT_EQ(2, Play("x.asm --video").code);
    EXPECT_EQ(2, Play("x.asm --frobnicate").code);

    r = Play(Q(Path("missing.asm")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("avsplay: cannot open"), std::string::npos) << r.out;
    // Not a container: nothing registered takes it.
    WriteFile(Path("text.asm"), Bytes(100, 'x'));
    r = Play(Q(Path("text.asm")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("no registered filter plays"), std::string::npos) << r.out;

    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    const std::string asm_file = MakeAsm(kData + "/xavs_cif352x288_25fps_IBP_100f.avs", mp3);
    // An output that cannot be created.
    r = Play(Q(asm_file) + " --video " + Q(Path("no/such/dir/v.out")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("cannot create"), std::string::npos) << r.out;
    // Without the module registered the file finds no filter.
    ::setenv("AVS_REGISTRY", Path("empty.reg").c_str(), 1);
    r = Play(Q(asm_file));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("are the filter modules registered?"), std::string::npos) << r.out;
}

TEST_F(Avsplay, ACorruptContainerIsReportedWithTheParsersReason) {
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    const Bytes good = ReadFile(MakeAsm(kData + "/xavs_cif352x288_25fps_IBP_100f.avs", mp3));
    // The audio 'stsz' (the second) claims 4,294,967,295 samples of one byte.
    const std::string tag = "stsz";
    auto it = std::search(good.begin(), good.end(), tag.begin(), tag.end());
    ASSERT_NE(it, good.end());
    it = std::search(it + 1, good.end(), tag.begin(), tag.end());
    ASSERT_NE(it, good.end());
    Bytes bad = good;
    const size_t at = static_cast<size_t>(it - good.begin()) + 4 + 4;
    const Bytes claim{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    std::copy(claim.begin(), claim.end(), bad.begin() + static_cast<std::ptrdiff_t>(at));
    WriteFile(Path("claims.asm"), bad);
    Result r = Play(Q(Path("claims.asm")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("avsplay: " + Path("claims.asm") +
                         " was refused by the registered parsers: track 2: the sample table "
                         "claims 4294967295 bytes"),
              std::string::npos)
        << r.out;
    EXPECT_LT(r.out.size(), 1000u) << r.out;

    // Cut short: the reader's reason is the box that runs past the file.
    WriteFile(Path("cut.asm"), Bytes(good.begin(), good.begin() + good.size() / 2));
    r = Play(Q(Path("cut.asm")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("was refused by the registered parsers: box '"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("runs past its parent"), std::string::npos) << r.out;

    // Without the module registered nothing refused it: the old advice stands.
    ::setenv("AVS_REGISTRY", Path("empty.reg").c_str(), 1);
    r = Play(Q(Path("claims.asm")));
    EXPECT_EQ(1, r.code);
    EXPECT_NE(r.out.find("are the filter modules registered?"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("refused"), std::string::npos) << r.out;
}

}  // namespace
