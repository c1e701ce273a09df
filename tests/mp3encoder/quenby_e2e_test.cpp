// Media made with ffmpeg, encoded by the real program, judged with ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "program_runner.h"

namespace {

using quenby_test::ReadAll;
using quenby_test::RunProgram;
using quenby_test::Shell;
namespace fs = std::filesystem;

const std::string kQuenby = AVS_BIN_DIR "/Quenby";

fs::path& Dir() {
    static fs::path dir = fs::temp_directory_path() / ("quenby_e2e_" + std::to_string(::getpid()));
    return dir;
}

bool MakeMedia(const std::string& name, const std::string& ffmpeg_args) {
    const std::string cmd = "ffmpeg -nostdin -v error -y " + ffmpeg_args + " '" +
                            (Dir() / name).string() + "' >/dev/null 2>&1 && echo ok";
    return Shell(cmd) == "ok\n";
}

// A plain PCM WAV (no channel positions) of `frames` 16-bit frames at 44100 Hz, silent but for
// a 440 Hz tone on channel `toned`; the header's channel count and data size as given.
void WriteWav(const fs::path& file, unsigned channels, std::uint32_t frames, unsigned toned) {
    std::string data;
    for (std::uint32_t n = 0; n < frames; ++n) {
        for (unsigned c = 0; c < channels; ++c) {
            const auto v = static_cast<std::int16_t>(
                c == toned ? 8000 * std::sin(2 * std::numbers::pi * 440 * n / 44100.0) : 0);
            data.push_back(static_cast<char>(v & 0xff));
            data.push_back(static_cast<char>((v >> 8) & 0xff));
        }
    }
    auto le = [](std::uint32_t v, int bytes) {
        std::string b;
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
        return b;
    };
    const std::string fmt = le(1, 2) + le(channels, 2) + le(44100, 4) +
                            le(44100 * channels * 2, 4) + le(channels * 2, 2) + le(16, 2);
    const std::string body = "WAVEfmt " + le(16, 4) + fmt + "data" +
                             le(static_cast<std::uint32_t>(data.size()), 4) + data;
    std::ofstream(file, std::ios::binary)
        << "RIFF" << le(static_cast<std::uint32_t>(body.size()), 4) << body;
}

// The peak level in dB of the loudest channel of a file, as FFmpeg decodes it.
double LoudestChannelDb(const fs::path& file, int channels) {
    double loudest = -1000;
    for (int c = 0; c < channels; ++c) {
        const std::string out =
            Shell("ffmpeg -nostdin -i '" + file.string() + "' -af 'pan=mono|c0=c" +
                  std::to_string(c) + ",volumedetect' -f null - 2>&1 | grep max_volume");
        const auto at = out.find("max_volume: ");
        if (at != std::string::npos) loudest = std::max(loudest, std::atof(out.c_str() + at + 12));
    }
    return loudest;
}

std::map<std::string, std::string> Probe(const fs::path& file) {
    std::map<std::string, std::string> values;
    std::istringstream in(
        Shell("ffprobe -v error -select_streams a:0 -show_entries "
              "stream=sample_rate,channels,bit_rate,codec_name:format=duration "
              "-of default=nw=1 '" +
              file.string() + "'"));
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// Where the source's audio starts (seconds after the earliest stream) and how long it is, as
// FFmpeg decodes it.
struct SourceAudio {
    double start = 0;
    double seconds = 0;
};

SourceAudio DecodedAudio(const fs::path& file) {
    SourceAudio a;
    const double origin =
        std::atof(Shell("ffprobe -v error -show_entries format=start_time -of csv=p=0 '" +
                        file.string() + "'")
                      .c_str());
    std::istringstream in(
        Shell("ffprobe -v error -select_streams a:0 -show_frames -show_entries "
              "frame=pts_time,nb_samples -of csv=p=0 '" +
              file.string() + "'"));
    const double rate = std::atof(Probe(file)["sample_rate"].c_str());
    std::string line;
    long samples = 0;
    bool first = true;
    while (std::getline(in, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        if (first) a.start = std::atof(line.c_str()) - origin;
        first = false;
        samples += std::atol(line.c_str() + comma + 1);
    }
    a.seconds = samples / rate;
    return a;
}

// What the front-end's audio stage makes of each progress block: the text up to its first
// zero byte, the number read atoi-style from two characters before the last '%'.
std::vector<int> FrontEndPercentages(const std::string& out) {
    std::vector<int> values;
    const std::string start = "Encoding, please wait...\r\n";
    const std::string end = "\rProgress:\t100%\nMission completed!\r\n";
    const auto from = out.find(start);
    if (from == std::string::npos || out.size() < end.size() ||
        out.compare(out.size() - end.size(), end.size(), end) != 0)
        return values;
    const std::string blocks =
        out.substr(from + start.size(), out.size() - end.size() - from - start.size());
    if (blocks.size() % 80 != 0) return values;
    for (std::size_t i = 0; i < blocks.size(); i += 80) {
        const std::string text(blocks.c_str() + i);
        const auto pct = text.rfind('%');
        if (text.size() < 4 || pct == std::string::npos) {
            values.push_back(-1);
            continue;
        }
        values.push_back(std::atoi(text.c_str() + (pct >= 2 ? pct - 2 : 0)));
    }
    return values;
}

class QuenbyEncoding : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        fs::create_directories(Dir());
        const std::string tone = "-f lavfi -i sine=f=440:r=";
        ok_ = MakeMedia("mono22.wav", tone + "22050:d=2 -c:a pcm_s16le") &&
              MakeMedia("stereo44.wav",
                        "-f lavfi -i sine=f=440:r=44100:d=3 -f lavfi -i sine=f=660:r=44100:d=3 "
                        "-filter_complex amerge -ac 2 -c:a pcm_s16le") &&
              MakeMedia("stereo48.wav", tone + "48000:d=2.5 -ac 2 -c:a pcm_s16le") &&
              MakeMedia("pcm.avi", "-f lavfi -i testsrc=size=160x120:rate=25:d=2 " + tone +
                                       "44100:d=2 -c:v mpeg4 -c:a pcm_s16le -ac 2") &&
              MakeMedia("aac.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:d=2 " + tone +
                                       "48000:d=2 -c:v mpeg4 -c:a aac -b:a 96k -ac 2") &&
              MakeMedia("opus.mkv", tone + "48000:d=2 -c:a libopus -ac 2") &&
              MakeMedia("vorbis.mkv", tone + "44100:d=2 -c:a libvorbis -ac 1") &&
              MakeMedia("late.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:d=3 -itsoffset 0.5 " +
                                        tone + "44100:d=2 -c:v mpeg4 -c:a aac -ac 2") &&
              MakeMedia("noaudio.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:d=1 -c:v mpeg4") &&
              // 7.1 with the tone on channel 5 (left back) only.
              MakeMedia("surround8.wav",
                        "-f lavfi -i 'sine=f=440:r=44100:d=2,pan=7.1|BL=c0' -c:a pcm_s16le");
        // Ten channels without positions, the tone on channel 6; a WAV without samples; a
        // header claiming 65535 channels.
        WriteWav(Dir() / "plain10.wav", 10, 44100, 5);
        WriteWav(Dir() / "empty.wav", 2, 0, 0);
        WriteWav(Dir() / "many.wav", 65535, 4, 0);
    }
    static void TearDownTestSuite() { fs::remove_all(Dir()); }
    void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the test media"; }

    static bool ok_;
};
bool QuenbyEncoding::ok_ = false;

struct Expect {
    std::string source;
    std::vector<std::string> options;
    int rate;
    int channels;
    int cbr_kbps;  // 0: VBR, checked through its header
};

TEST_F(QuenbyEncoding, SourcesBecomeMp3sOfTheRightShapeAndLength) {
    const Expect cases[] = {
        {"mono22.wav", {}, 22050, 1, 64},
        {"stereo44.wav", {}, 44100, 2, 64},
        {"stereo44.wav", {"-bitrate=128", "-mode", "3"}, 44100, 1, 128},
        {"stereo44.wav", {"-b", "64", "-v", "192"}, 44100, 2, 0},
        {"stereo44.wav", {"-samplerate", "22050"}, 22050, 2, 64},
        {"stereo48.wav", {"-m", "0", "-b", "96"}, 48000, 2, 96},
        {"mono22.wav", {"-mode=1"}, 22050, 2, 64},
        {"pcm.avi", {}, 44100, 2, 64},
        {"aac.mp4", {}, 48000, 2, 64},
        {"opus.mkv", {}, 48000, 2, 64},
        {"vorbis.mkv", {"-Vbitrate=160"}, 44100, 1, 0},
        {"late.mp4", {}, 44100, 2, 64},
    };
    int n = 0;
    for (const Expect& c : cases) {
        const std::string label = c.source + " #" + std::to_string(n);
        const fs::path out = Dir() / ("out" + std::to_string(n++) + ".mp3");
        std::vector<std::string> args = {(Dir() / c.source).string(), out.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = RunProgram(kQuenby, args, Dir());
        ASSERT_EQ(r.exit_code, 0) << label << "\n" << r.out;
        EXPECT_EQ(r.err, "") << label;
        EXPECT_NE(
            r.out.find("InputFile: " + args[0] + "\r\nOutputFile: " + args[1] + "\r\nBitRate: "),
            std::string::npos)
            << label;

        auto probe = Probe(out);
        EXPECT_EQ(probe["codec_name"], "mp3") << label;
        EXPECT_EQ(std::atoi(probe["sample_rate"].c_str()), c.rate) << label;
        EXPECT_EQ(std::atoi(probe["channels"].c_str()), c.channels) << label;
        const std::string bytes = ReadAll(out);
        if (c.cbr_kbps != 0) {
            EXPECT_EQ(std::atoi(probe["bit_rate"].c_str()), c.cbr_kbps * 1000) << label;
            EXPECT_NE(bytes.substr(0, 64).find("Info"), std::string::npos) << label;
        } else {
            EXPECT_NE(bytes.substr(0, 64).find("Xing"), std::string::npos) << label;
        }

        // Length: the source's audio plus the silence before it, then at most the encoder's
        // delay and one frame of padding.
        const SourceAudio audio = DecodedAudio(Dir() / c.source);
        const double expected = audio.start + audio.seconds;
        const double frame = (c.rate >= 32000 ? 1152.0 : 576.0) / c.rate;
        const double duration = std::atof(probe["duration"].c_str());
        EXPECT_GE(duration, expected - 0.002) << label;
        EXPECT_LE(duration, expected + frame + 1105.0 / c.rate + 0.002) << label;
        if (c.source == "late.mp4") {
            EXPECT_NEAR(audio.start, 0.5, 0.03) << label;
        }

        // Progress as the front-end reads it: whole blocks, never falling, ending near the end.
        const auto percentages = FrontEndPercentages(r.out);
        ASSERT_FALSE(percentages.empty()) << label;
        int last = 0;
        for (int p : percentages) {
            ASSERT_GE(p, last) << label;
            ASSERT_LE(p, 100) << label;
            const int bar = 95 + static_cast<int>(p * 0.04);
            ASSERT_TRUE(bar >= 95 && bar <= 99) << label;
            last = p;
        }
        // The late audio ends at 2.5 s of a 3 s video, so its progress stops near 83.
        EXPECT_GE(last, c.source == "late.mp4" ? 80 : 90) << label;
    }
}

TEST_F(QuenbyEncoding, SourcesOfMoreChannelsThanStereoAreMixedDownAndLoseNoChannel) {
    struct Case {
        std::string source;
        std::vector<std::string> options;
        int channels;
    };
    const Case cases[] = {
        {"surround8.wav", {}, 2},
        {"surround8.wav", {"-mode", "3"}, 1},
        {"plain10.wav", {}, 2},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string label = c.source + " #" + std::to_string(n);
        const fs::path out = Dir() / ("mixed" + std::to_string(n++) + ".mp3");
        std::vector<std::string> args = {(Dir() / c.source).string(), out.string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = RunProgram(kQuenby, args, Dir());
        ASSERT_EQ(r.exit_code, 0) << label << "\n" << r.out;
        EXPECT_TRUE(r.out.ends_with("Mission completed!\r\n")) << label;
        EXPECT_EQ(std::atoi(Probe(out)["channels"].c_str()), c.channels) << label;
        // The source's tone is -12 dB; mixed down it stays far above silence.
        EXPECT_GT(LoudestChannelDb(out, c.channels), -40.0) << label;
    }
}

TEST_F(QuenbyEncoding, FailedRunsLeaveNoOutputBehindAndFilesTheyWouldNotWriteAlone) {
    // No samples: no MP3 of no frames, which nothing could open.
    {
        const auto r = RunProgram(kQuenby, {"empty.wav", "empty.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_TRUE(
            r.out.ends_with("Encoding, please wait...\r\n"
                            "The input file holds no audio samples\r\n"))
            << r.out;
        EXPECT_FALSE(fs::exists(Dir() / "empty.mp3"));
    }
    // A header claiming more channels than anything decodes.
    {
        const auto r = RunProgram(kQuenby, {"many.wav", "many.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255) << r.out;
        EXPECT_EQ(r.out.find("Mission completed!"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(Dir() / "many.mp3"));
    }
    // An earlier MP3 the run was asked to replace is not left truncated.
    {
        std::ofstream(Dir() / "replaced.mp3") << "an earlier run's output";
        const auto r = RunProgram(kQuenby, {"empty.wav", "replaced.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_FALSE(fs::exists(Dir() / "replaced.mp3"));
    }
    // A run that fails before it writes leaves an existing file as it was.
    {
        std::ofstream(Dir() / "kept.mp3") << "the user's own file";
        const auto r = RunProgram(kQuenby, {"noaudio.mp4", "kept.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_EQ(ReadAll(Dir() / "kept.mp3"), "the user's own file");
    }
}

TEST_F(QuenbyEncoding, SourcesWithoutAudioAreLoggedAndOtherFailuresEndTheRun) {
    const fs::path log = Dir() / "AudioErrorInfo.txt";
    fs::remove(log);
    const std::string src = (Dir() / "noaudio.mp4").string();
    for (int i = 0; i < 2; ++i) {
        const auto r = RunProgram(kQuenby, {src, (Dir() / "noaudio.mp3").string()}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_NE(r.out.find("[ 0] majortype: MEDIATYPE_Video *\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Length of Video: 1s\r\n"), std::string::npos) << r.out;
        EXPECT_TRUE(r.out.ends_with("Could not connect source filter to grabber\r\n")) << r.out;
        EXPECT_FALSE(fs::exists(Dir() / "noaudio.mp3"));
    }
    // Two records, each closed by an empty line.
    const std::string text = ReadAll(log);
    const std::string tail =
        "*****\r\nCould not connect source filter to grabber\r\nInputFile: " + src + "\r\n\r\n";
    std::size_t records = 0;
    for (std::size_t at = text.find(tail); at != std::string::npos; at = text.find(tail, at + 1))
        ++records;
    EXPECT_EQ(records, 2u) << text;
    EXPECT_EQ(text.substr(0, 5), "*****");
    EXPECT_TRUE(text.ends_with(tail));

    // Not media at all.
    {
        std::ofstream(Dir() / "notes.txt") << "shopping list: eggs, flour\n";
        const auto r = RunProgram(kQuenby, {"notes.txt", "notes.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_TRUE(r.out.ends_with("Could not find the input file\r\n")) << r.out;
        EXPECT_FALSE(fs::exists(Dir() / "notes.mp3"));
    }
    // An output that cannot be created: one line, nothing else after it.
    {
        const auto r = RunProgram(kQuenby, {"mono22.wav", "no/such/dir/out.mp3"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_TRUE(
            r.out.ends_with("No video stream found!\nCould not create the output file "
                            "no/such/dir/out.mp3\r\n"))
            << r.out;
    }
    // The source named as the output is left whole.
    {
        const auto before = ReadAll(Dir() / "mono22.wav");
        const auto r = RunProgram(kQuenby, {"mono22.wav", "./mono22.wav"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_TRUE(r.out.ends_with("The output file ./mono22.wav is the input file\r\n")) << r.out;
        EXPECT_EQ(ReadAll(Dir() / "mono22.wav"), before);
    }
    // Bit rates the encoder cannot make.
    {
        const auto r = RunProgram(kQuenby, {"mono22.wav", "bad.mp3", "-b", "-64"}, Dir());
        EXPECT_EQ(r.exit_code, 255);
        EXPECT_TRUE(r.out.ends_with("Error opening encoding stream (2)\r\n")) << r.out;
        EXPECT_FALSE(fs::exists(Dir() / "bad.mp3"));
    }
}

TEST_F(QuenbyEncoding, TheEncoderModuleIsFoundBesideTheProgram) {
    const fs::path alone = Dir() / "alone";
    fs::create_directories(alone);
    fs::copy_file(kQuenby, alone / "Quenby");
    const std::string src = (Dir() / "mono22.wav").string();
    auto r = RunProgram((alone / "Quenby").string(), {src, "a.mp3"}, alone);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_TRUE(r.out.ends_with("Error loading lame_enc.DLL\r\n")) << r.out;

    fs::copy_file(AVS_BIN_DIR "/lame_enc_stub.so", alone / "lame_enc.so");
    r = RunProgram((alone / "Quenby").string(), {src, "a.mp3"}, alone);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_TRUE(r.out.ends_with("Unable to get LAME interfaces\r\n")) << r.out;
    EXPECT_FALSE(fs::exists(alone / "a.mp3"));
}

}  // namespace
