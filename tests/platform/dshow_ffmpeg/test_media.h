// Media files made once per test program with the ffmpeg tool, in a temporary folder.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "com/hresult.h"

// Success of a call giving an HRESULT, with the code shown when it fails.
#define EXPECT_SUCCEEDED(expr)                                                 \
    do {                                                                       \
        const HRESULT hr_ = (expr);                                            \
        EXPECT_TRUE(SUCCEEDED(hr_)) << #expr << " gave 0x" << std::hex << hr_; \
    } while (0)
#define ASSERT_SUCCEEDED(expr)                                                 \
    do {                                                                       \
        const HRESULT hr_ = (expr);                                            \
        ASSERT_TRUE(SUCCEEDED(hr_)) << #expr << " gave 0x" << std::hex << hr_; \
    } while (0)

namespace dshow_ffmpeg_test {

inline std::string Shell(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline const std::filesystem::path& MediaDir() {
    static const std::filesystem::path dir = [] {
        auto d =
            std::filesystem::temp_directory_path() / ("dshow_ffmpeg_" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

inline bool Make(const std::string& name, const std::string& args) {
    const auto path = MediaDir() / name;
    if (std::filesystem::exists(path)) return true;
    return Shell("ffmpeg -nostdin -v error -y " + args + " '" + path.string() +
                 "' >/dev/null 2>&1 && echo ok") == "ok\n";
}

// Every file the tests use; false when the ffmpeg tool could not make one.
inline bool MakeAllMedia() {
    const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25:d=2 ";
    const std::string tone = "-f lavfi -i sine=f=440:r=";
    std::ofstream(MediaDir() / "notes.txt") << "shopping list: eggs, flour\n";
    return Make("stereo44.wav", tone + "44100:d=3 -ac 2 -c:a pcm_s16le") &&
           Make("pcm.avi", video + tone + "44100:d=2 -c:v mpeg4 -c:a pcm_s16le -ac 2") &&
           Make("aac.mp4", video + tone + "48000:d=2 -c:v mpeg4 -c:a aac -ac 2") &&
           Make("opus.mkv", tone + "48000:d=2 -c:a libopus -ac 2") &&
           Make("vorbis.mkv", tone + "22050:d=2 -c:a libvorbis -ac 1") &&
           Make("late.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:d=3 -itsoffset 0.5 " + tone +
                                "44100:d=2 -c:v mpeg4 -c:a aac -ac 2") &&
           // A transport stream's clock starts well above zero.
           Make("late.ts", "-f lavfi -i testsrc=size=160x120:rate=25:d=3 -itsoffset 0.5 " + tone +
                               "44100:d=2 -c:v mpeg2video -c:a mp2 -ac 2") &&
           Make("noaudio.mp4", video + "-c:v mpeg4") &&
           // 7.1 with sound on the left back channel only.
           Make("surround8.wav",
                "-f lavfi -i 'sine=f=440:r=44100:d=2,pan=7.1|BL=c0' -c:a pcm_s16le");
}

inline std::wstring MediaPath(const std::string& name) {
    const std::string s = (MediaDir() / name).string();
    return {s.begin(), s.end()};
}

// Sample frames of the first audio stream as FFmpeg decodes it.
inline long DecodedFrames(const std::string& name) {
    const std::string out = Shell(
        "ffprobe -v error -select_streams a:0 -show_frames -show_entries frame=nb_samples "
        "-of csv=p=0 '" +
        (MediaDir() / name).string() + "'");
    long total = 0;
    std::size_t at = 0;
    while (at < out.size()) {
        total += std::atol(out.c_str() + at);
        at = out.find('\n', at);
        if (at == std::string::npos) break;
        ++at;
    }
    return total;
}

// Where the first audio frame starts, in 100 ns after the earliest start of any stream, as
// FFmpeg's own tool reads the file.
inline double FirstAudioStart(const std::string& name) {
    const std::string path = (MediaDir() / name).string();
    const double origin = std::atof(
        Shell("ffprobe -v error -show_entries format=start_time -of csv=p=0 '" + path + "'")
            .c_str());
    const double first =
        std::atof(Shell("ffprobe -v error -select_streams a:0 -show_frames -read_intervals "
                        "%+#1 -show_entries frame=pts_time -of csv=p=0 '" +
                        path + "'")
                      .c_str());
    return (first - origin) * 1e7;
}

}  // namespace dshow_ffmpeg_test
