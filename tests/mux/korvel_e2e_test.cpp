// Runs the built Korvel program: its messages and exit codes, and its output as FFmpeg's
// own MPEG-TS demuxer and decoders see it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <sstream>

#include "mux_test_support.h"
#include "synthetic_avs.h"

using muxtest::Bytes;
namespace fs = std::filesystem;
namespace syn = avs::synthetic;

namespace {

const std::string kKorvel = std::string(AVS_BIN_DIR) + "/Korvel";
const std::string kUsage =
    "Usage: Korvel.exe VideoFile.avs AudioFile.mp3 TimeStamp.dat TSFile.ts\n";

struct Proc {
    int code = -1;
    std::string out, err;
    long max_rss_kb = 0;
};

std::string Slurp(const fs::path& p) {
    Bytes b = muxtest::ReadFile(p);
    return std::string(b.begin(), b.end());
}

// Runs argv with stdout and stderr captured in files of dir.
Proc RunProgram(const muxtest::TempDir& dir, const std::vector<std::string>& args) {
    fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Proc p;
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    p.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    p.max_rss_kb = ru.ru_maxrss;
    p.out = Slurp(out);
    p.err = Slurp(err);
    return p;
}

Proc Korvel(const muxtest::TempDir& dir, const fs::path& v, const fs::path& a, const fs::path& t,
            const fs::path& o) {
    return RunProgram(dir, {kKorvel, v.string(), a.string(), t.string(), o.string()});
}

// Writes MP3 of `seconds` made by FFmpeg's LAME encoder (no ID3 tag, no Xing frame).
void MakeMp3(const muxtest::TempDir& dir, const fs::path& out, double seconds, int rate = 44100) {
    Proc p = RunProgram(dir, {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                  ":duration=" + std::to_string(seconds),
                              "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k", "-id3v2_version",
                              "0", "-write_xing", "0", out.string()});
    ASSERT_EQ(p.code, 0) << p.err;
}

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) v.push_back(l);
    return v;
}

// "stream_index,pts" per packet.
std::vector<std::pair<int, long long>> ProbePackets(const muxtest::TempDir& dir,
                                                    const fs::path& ts) {
    Proc p = RunProgram(dir, {"ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pts",
                              "-of", "csv=p=0", ts.string()});
    std::vector<std::pair<int, long long>> v;
    for (const std::string& l : Lines(p.out)) {
        size_t comma = l.find(',');
        v.emplace_back(std::stoi(l.substr(0, comma)), std::stoll(l.substr(comma + 1)));
    }
    return v;
}

// Continuity failures are logged by FFmpeg's demuxer at debug level only.
std::vector<std::string> DemuxerComplaints(const muxtest::TempDir& dir, const fs::path& ts) {
    std::vector<std::string> bad;
    Proc dbg = RunProgram(
        dir, {"ffmpeg", "-v", "debug", "-i", ts.string(), "-c", "copy", "-f", "null", "-"});
    for (const std::string& l : Lines(dbg.err))
        if (l.find("Continuity check failed") != std::string::npos) bad.push_back(l);
    Proc err = RunProgram(
        dir, {"ffmpeg", "-v", "error", "-i", ts.string(), "-c", "copy", "-f", "null", "-"});
    EXPECT_EQ(err.code, 0) << err.err;
    for (const std::string& l : Lines(err.err))
        if (l.find("[mpegts") != std::string::npos || l.find("PES") != std::string::npos ||
            l.find("orrupt") != std::string::npos)
            bad.push_back(l);
    return bad;
}

struct Inputs {
    fs::path avs, mp3, dat;
};

Inputs GoodInputs(const muxtest::TempDir& dir, int pictures = 10) {
    std::mt19937 rng(1);
    Bytes v = syn::SequenceHeader({});
    std::vector<int32_t> stamps;
    for (int i = 0; i < pictures; ++i) {
        syn::AppendPicture(v, i == 0 ? syn::PictureKind::kI : syn::PictureKind::kP, 4, 100, rng);
        stamps.push_back(i * 40);
    }
    Inputs in{dir / "in.avs", dir / "in.mp3", dir / "in.dat"};
    muxtest::WriteFile(in.avs, v);
    muxtest::WriteFile(in.dat, muxtest::Le32List(stamps));
    Bytes a;
    for (int i = 0; i < 20; ++i) {
        Bytes f = muxtest::Mp3Frame();
        a.insert(a.end(), f.begin(), f.end());
    }
    muxtest::WriteFile(in.mp3, a);
    return in;
}

}  // namespace

TEST(KorvelProgram, CommandLineAndOpeningFiles) {
    muxtest::TempDir dir;
    Inputs in = GoodInputs(dir);
    fs::path out = dir / "out.ts";

    for (std::vector<std::string> args :
         {std::vector<std::string>{kKorvel}, {kKorvel, "a", "b", "c"}}) {
        Proc p = RunProgram(dir, args);
        EXPECT_EQ(p.code, 1);
        EXPECT_EQ(p.out, kUsage);
        EXPECT_EQ(p.err, "");
    }
    // Five arguments: usage printed, the first four used.
    Proc five = RunProgram(dir, {kKorvel, in.avs, in.mp3, in.dat, out, "extra"});
    EXPECT_EQ(five.code, 0);
    EXPECT_EQ(five.out, kUsage);
    EXPECT_EQ(five.err, "");
    EXPECT_GT(fs::file_size(out), 0u);
    EXPECT_FALSE(fs::exists("extra"));
    fs::remove(out);

    fs::path missing = dir / "missing";
    struct Case {
        fs::path v, a, t, o;
        const char* message;
    };
    for (Case c : {Case{missing, in.mp3, in.dat, out, "Open video file failed\n"},
                   Case{in.avs, missing, in.dat, out, "Open audio file failed\n"},
                   Case{in.avs, in.mp3, missing, out, "Open TimeStamp file failed\n"},
                   Case{missing, missing, missing, out, "Open video file failed\n"},
                   Case{in.avs, in.mp3, in.dat, dir / "no" / "such.ts", "Create TS file failed\n"},
                   Case{in.avs, in.mp3, in.dat, dir.Path(), "Create TS file failed\n"}}) {
        Proc p = Korvel(dir, c.v, c.a, c.t, c.o);
        EXPECT_EQ(p.code, 1) << c.message;
        EXPECT_EQ(p.err, c.message);
        EXPECT_EQ(p.out, "");
        EXPECT_FALSE(fs::exists(out)) << "output created before inputs were checked";
    }
}

TEST(KorvelProgram, AnInputNamedAsTheOutputIsRefusedAndKept) {
    muxtest::TempDir dir;
    Inputs in = GoodInputs(dir);
    const Bytes avs = muxtest::ReadFile(in.avs), mp3 = muxtest::ReadFile(in.mp3),
                dat = muxtest::ReadFile(in.dat);
    fs::create_symlink(in.mp3, dir / "link.mp3");
    fs::create_hard_link(in.dat, dir / "hard.dat");
    struct Case {
        fs::path output;
        const char* message;
    };
    // The same file under its own name, through "./", through a symbolic and a hard link.
    for (Case c : {Case{in.avs, "TS file is the same file as the video file\n"},
                   Case{dir / "." / "in.avs", "TS file is the same file as the video file\n"},
                   Case{in.mp3, "TS file is the same file as the audio file\n"},
                   Case{dir / "link.mp3", "TS file is the same file as the audio file\n"},
                   Case{in.dat, "TS file is the same file as the TimeStamp file\n"},
                   Case{dir / "hard.dat", "TS file is the same file as the TimeStamp file\n"}}) {
        Proc p = Korvel(dir, in.avs, in.mp3, in.dat, c.output);
        EXPECT_EQ(p.code, 1) << c.output;
        EXPECT_EQ(p.err, c.message);
        EXPECT_EQ(p.out, "");
        EXPECT_EQ(muxtest::ReadFile(in.avs), avs) << c.output;
        EXPECT_EQ(muxtest::ReadFile(in.mp3), mp3) << c.output;
        EXPECT_EQ(muxtest::ReadFile(in.dat), dat) << c.output;
    }
    // A missing input is still reported as missing, before the output is looked at.
    Proc missing = Korvel(dir, dir / "missing.avs", in.mp3, in.dat, in.mp3);
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "Open video file failed\n");
    // A different file beside them is written as always.
    Proc good = Korvel(dir, in.avs, dir / "link.mp3", in.dat, dir / "out.ts");
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_GT(fs::file_size(dir / "out.ts"), 0u);
}

TEST(KorvelProgram, BadVideoAndAudioGiveTheirMessageAndAnEmptyOutput) {
    muxtest::TempDir dir;
    Inputs in = GoodInputs(dir);
    fs::path out = dir / "out.ts";
    std::mt19937 rng(2);
    Bytes garbage(100000);
    for (uint8_t& b : garbage) b = static_cast<uint8_t>(rng() | 0x01);
    syn::SequenceFields bad_rate;
    bad_rate.frame_rate_code = 9;
    Bytes no_header;
    syn::AppendPicture(no_header, syn::PictureKind::kI, 3, 50, rng);
    const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'};

    struct Case {
        std::string what;
        Bytes video;
        Bytes audio;  // empty: the good one
        bool audio_given;
        std::string message;
    };
    Bytes cut_header = {0, 0, 1, 0xB0, 0x20, 0x40, 0x82, 0xC0, 0x09};
    std::vector<Case> cases = {
        {"empty video", {}, {}, false, "Could not find avs parameter header\n"},
        {"garbage video", garbage, {}, false, "Could not find avs parameter header\n"},
        {"pictures only", no_header, {}, false, "Could not find avs parameter header\n"},
        {"cut header", cut_header, {}, false, "Could not decode avs Sequence header\n"},
        {"frame rate 9", syn::SequenceHeader(bad_rate), {}, false, ""},
        {"empty audio", {}, {}, true, "data in file doesn't appear to be MPEG audio\n"},
        {"text audio", {}, text, true, "data in file doesn't appear to be MPEG audio\n"},
        {"garbage audio",
         {},
         Bytes(5000, 0x00),
         true,
         "data in file doesn't appear to be MPEG audio\n"},
    };
    Bytes good_video = muxtest::ReadFile(in.avs);
    for (Case& c : cases) {
        bool video_case = !c.video.empty() || c.what == "empty video";
        muxtest::WriteFile(dir / "v.avs", video_case ? c.video : good_video);
        if (c.audio_given) muxtest::WriteFile(dir / "a.mp3", c.audio);
        Proc p = Korvel(dir, dir / "v.avs", c.audio_given ? dir / "a.mp3" : in.mp3, in.dat, out);
        EXPECT_EQ(p.code, 0) << c.what;
        EXPECT_EQ(p.err, c.message) << c.what;
        EXPECT_EQ(p.out, "") << c.what;
        ASSERT_TRUE(fs::exists(out)) << c.what;
        EXPECT_EQ(fs::file_size(out), 0u) << c.what;
    }

    // ADTS AAC made by FFmpeg.
    fs::path aac = dir / "a.aac";
    Proc enc = RunProgram(dir, {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                "sine=duration=1", "-c:a", "aac", "-f", "adts", aac.string()});
    ASSERT_EQ(enc.code, 0) << enc.err;
    Proc p = Korvel(dir, in.avs, aac, in.dat, out);
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.err, "data in file appears to be AAC audio, use .aac extension\n");
    EXPECT_EQ(fs::file_size(out), 0u);
}

TEST(KorvelProgram, LeadingGarbageTruncationAndShortTimeStampsStillMultiplex) {
    muxtest::TempDir dir;
    Inputs in = GoodInputs(dir);
    fs::path out = dir / "out.ts";
    // 7 bytes of garbage before the audio, and the last frame cut in half.
    Bytes audio = {'T', 'A', 'G', 'x', 'y', 'z', '1'};
    for (int i = 0; i < 5; ++i) {
        Bytes f = muxtest::Mp3Frame();
        audio.insert(audio.end(), f.begin(), f.end());
    }
    audio.resize(audio.size() - 200);
    muxtest::WriteFile(dir / "a.mp3", audio);
    Bytes stamps = muxtest::Le32List({0, 40});
    stamps.push_back(9);  // odd length
    muxtest::WriteFile(dir / "t.dat", stamps);
    Proc p = Korvel(dir, in.avs, dir / "a.mp3", dir / "t.dat", out);
    EXPECT_EQ(p.code, 0);
    // Validation reads the first header twice and the loop a third time.
    EXPECT_EQ(p.err,
              "Warning dropped 7 input bytes\nWarning dropped 7 input bytes\n"
              "Warning dropped 7 input bytes\n");
    muxtest::TsContents ts = muxtest::ParseTs(muxtest::ReadFile(out));
    ASSERT_TRUE(ts.problems.empty());
    int audio_pes = 0, video_pes = 0;
    for (const muxtest::Pes& pes : ts.pes) (pes.pid == 0x102 ? audio_pes : video_pes)++;
    EXPECT_EQ(audio_pes, 4);
    EXPECT_EQ(video_pes, 11);            // sequence header + 10 pictures
    EXPECT_EQ(ts.pes.back().pts, 3600);  // the last value is kept
}

TEST(KorvelProgram, WriteFailureIsReportedNotHidden) {
    muxtest::TempDir dir;
    // Small: the failure shows when the buffered packets are flushed at the end.
    Inputs small = GoodInputs(dir);
    Proc p = Korvel(dir, small.avs, small.mp3, small.dat, "/dev/full");
    EXPECT_EQ(p.code, 0);
    EXPECT_TRUE(std::regex_match(p.err, std::regex("can't write (video|audio) frame [0-9]+\n")))
        << p.err;
    // Large: the failure shows while writing and stops the run.
    std::mt19937 rng(3);
    Bytes v = syn::SequenceHeader({});
    std::vector<int32_t> stamps;
    for (int i = 0; i < 200; ++i) {
        syn::AppendPicture(v, syn::PictureKind::kP, 10, 2000, rng);
        stamps.push_back(i * 40);
    }
    muxtest::WriteFile(dir / "big.avs", v);
    muxtest::WriteFile(dir / "big.dat", muxtest::Le32List(stamps));
    p = Korvel(dir, dir / "big.avs", small.mp3, dir / "big.dat", "/dev/full");
    EXPECT_EQ(p.code, 0);
    EXPECT_TRUE(std::regex_match(p.err, std::regex("can't write video frame [0-9]+\n"))) << p.err;
    // Nothing but PAT and PMT is written (the second sequence header ends the run before
    // the first access unit is complete, the only audio frame is cut short): their lost
    // write is an error of its own.
    Bytes tables_only = syn::SequenceHeader({});
    syn::SequenceFields bad;
    bad.frame_rate_code = 0;
    Bytes second = syn::SequenceHeader(bad);
    tables_only.insert(tables_only.end(), second.begin(), second.end());
    muxtest::WriteFile(dir / "tables.avs", tables_only);
    Bytes cut = muxtest::Mp3Frame();
    cut.resize(cut.size() / 2);
    muxtest::WriteFile(dir / "cut.mp3", cut);
    p = Korvel(dir, dir / "tables.avs", dir / "cut.mp3", small.dat, dir / "tables.ts");
    EXPECT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(muxtest::ReadFile(dir / "tables.ts").size(), 2 * 188u);
    p = Korvel(dir, dir / "tables.avs", dir / "cut.mp3", small.dat, "/dev/full");
    EXPECT_EQ(p.code, 1);
    EXPECT_EQ(p.err, "can't write PAT/PMT\n");
}

TEST(KorvelProgram, HugeAccessUnitsPassIntactInBoundedMemory) {
    muxtest::TempDir dir;
    // Access units larger than what Korvel holds at once: a 48 MB picture of one slice, a
    // picture of three 3 MB slices, a small one between and after them. Each must still be
    // one PES packet holding exactly its units, stamped from the .dat file in order. Made
    // twice from the same seed: the test holds none of it while Korvel runs, since a forked
    // child's peak counts what the parent held.
    auto make_units = [] {
        std::mt19937 rng(4);
        std::vector<Bytes> units;
        units.push_back(syn::SequenceHeader({}));
        auto picture = [&](syn::PictureKind kind, int slices, size_t body) {
            Bytes p;
            syn::AppendPicture(p, kind, slices, body, rng);
            units.push_back(p);
        };
        picture(syn::PictureKind::kI, 1, 48 * 1024 * 1024);
        picture(syn::PictureKind::kP, 2, 1000);
        picture(syn::PictureKind::kP, 3, 3 * 1024 * 1024 + 77);
        picture(syn::PictureKind::kP, 2, 1000);
        return units;
    };
    {
        Bytes v;
        for (const Bytes& u : make_units()) v.insert(v.end(), u.begin(), u.end());
        muxtest::WriteFile(dir / "huge.avs", v);
    }
    Inputs in = GoodInputs(dir);
    muxtest::WriteFile(in.dat, muxtest::Le32List({40, 80, 120, 160}));
    fs::path out = dir / "out.ts";
    Proc p = Korvel(dir, dir / "huge.avs", in.mp3, in.dat, out);
    fs::remove(dir / "huge.avs");
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.err, "");
    muxtest::TsContents ts = muxtest::ParseTs(muxtest::ReadFile(out));
    ASSERT_TRUE(ts.problems.empty());
    const std::vector<Bytes> units = make_units();
    std::vector<const muxtest::Pes*> video;
    for (const muxtest::Pes& pes : ts.pes)
        if (pes.pid == 0x101) video.push_back(&pes);
    ASSERT_EQ(video.size(), units.size());
    const int64_t pts[] = {0, 40 * 90, 80 * 90, 120 * 90, 160 * 90};
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_TRUE(video[i]->payload == units[i]) << "access unit " << i;
        EXPECT_EQ(video[i]->pts, pts[i]) << "access unit " << i;
        if (units[i].size() + 8 > 65535) {
            EXPECT_EQ(video[i]->declared_length, 0u);
        }
    }
    // Without a bound the 48 MB unit alone cost over 100 MB.
    EXPECT_LT(p.max_rss_kb, 64 * 1024) << "peak memory";
}

TEST(KorvelProgram, FfprobeSeesOneProgramWithPredictedPacketsAndTimes) {
    muxtest::TempDir dir;
    // 60 pictures I P P ... (one sequence header at the start, no end code), 48 kHz audio.
    std::mt19937 rng(5);
    const int pictures = 60;
    Bytes v = syn::SequenceHeader({});
    std::vector<int32_t> stamps;
    for (int i = 0; i < pictures; ++i) {
        syn::AppendPicture(v, i == 0 ? syn::PictureKind::kI : syn::PictureKind::kP, 6, 300, rng);
        stamps.push_back(1000 + i * 40);
    }
    muxtest::WriteFile(dir / "v.avs", v);
    muxtest::WriteFile(dir / "v.dat", muxtest::Le32List(stamps));
    MakeMp3(dir, dir / "a.mp3", 3.0, 48000);
    fs::path out = dir / "out.ts";
    Proc p = Korvel(dir, dir / "v.avs", dir / "a.mp3", dir / "v.dat", out);
    ASSERT_EQ(p.code, 0);
    ASSERT_EQ(p.err, "");

    Proc info = RunProgram(dir, {"ffprobe", "-v", "error", "-show_entries",
                                 "program=program_id:stream=index,id,codec_name,codec_type", "-of",
                                 "flat", out.string()});
    EXPECT_NE(info.out.find("programs.program.0.program_id=273"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("programs.program.1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("streams.stream.0.id=\"0x101\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("streams.stream.0.codec_name=\"cavs\""), std::string::npos);
    EXPECT_NE(info.out.find("streams.stream.1.id=\"0x102\""), std::string::npos);
    EXPECT_NE(info.out.find("streams.stream.1.codec_name=\"mp3\""), std::string::npos);
    EXPECT_EQ(info.out.find("streams.stream.2"), std::string::npos);

    Proc frames =
        RunProgram(dir, {"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                         "stream=nb_read_packets", "-of", "csv=p=0", (dir / "a.mp3").string()});
    int mp3_frames = std::stoi(frames.out);
    ASSERT_GT(mp3_frames, 100);

    // Our own reading of the stream: one PES per access unit, the header alone first.
    muxtest::TsContents ts = muxtest::ParseTs(muxtest::ReadFile(out));
    ASSERT_TRUE(ts.problems.empty()) << ts.problems.front();
    std::vector<int64_t> pes_pts;
    for (const muxtest::Pes& pes : ts.pes)
        if (pes.pid == 0x101) pes_pts.push_back(pes.pts);
    ASSERT_EQ(static_cast<int>(pes_pts.size()), pictures + 1);
    EXPECT_EQ(pes_pts[0], 0);
    for (int i = 0; i < pictures; ++i) EXPECT_EQ(pes_pts[i + 1], stamps[i] * 90LL);

    // FFmpeg's parser joins the lone sequence-header packet to the picture after it, so it
    // counts one packet per picture; audio packets are the MP3 frames, in order.
    auto packets = ProbePackets(dir, out);
    std::vector<long long> video_pts, audio_pts;
    for (auto [index, pts] : packets) (index == 0 ? video_pts : audio_pts).push_back(pts);
    ASSERT_EQ(static_cast<int>(video_pts.size()), pictures);
    ASSERT_EQ(static_cast<int>(audio_pts.size()), mp3_frames);
    // The joined first packet keeps the header's PTS, 0: no time stamp is read for it.
    EXPECT_EQ(video_pts[0], 0);
    for (int i = 1; i < pictures; ++i) EXPECT_EQ(video_pts[i], stamps[i] * 90LL) << i;
    for (int k = 0; k < mp3_frames; ++k) EXPECT_EQ(audio_pts[k], k * 2160LL) << k;
    EXPECT_EQ(DemuxerComplaints(dir, out), std::vector<std::string>{});
}

TEST(KorvelProgram, RealStreamsDecodeCompletelyAfterMultiplexing) {
    muxtest::TempDir dir;
    MakeMp3(dir, dir / "a.mp3", 4.5);
    std::vector<int32_t> stamps;
    for (int i = 0; i < 100; ++i) stamps.push_back(i * 40);
    muxtest::WriteFile(dir / "t.dat", muxtest::Le32List(stamps));
    for (const char* name :
         {"xavs_cif352x288_25fps_IBP_100f.avs", "rm52j_cif352x288_25fps_IBBP_gop12_100f.avs"}) {
        fs::path out = dir / (std::string(name) + ".ts");
        Proc p = Korvel(dir, fs::path(AVS_TEST_DATA_DIR) / name, dir / "a.mp3", dir / "t.dat", out);
        ASSERT_EQ(p.code, 0) << name;
        EXPECT_EQ(p.err, "") << name;
        muxtest::TsContents ts = muxtest::ParseTs(muxtest::ReadFile(out));
        EXPECT_TRUE(ts.problems.empty()) << name;
        Proc count = RunProgram(dir, {"ffprobe", "-v", "error", "-count_frames", "-select_streams",
                                      "v", "-show_entries", "stream=nb_read_frames,width,height",
                                      "-of", "csv=p=0", out.string()});
        EXPECT_EQ(Lines(count.out).at(0), "352,288,100") << name;
        EXPECT_EQ(DemuxerComplaints(dir, out), std::vector<std::string>{}) << name;
    }
}
