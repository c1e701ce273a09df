// Lindqvale run as a program on the real AVS samples and generated MP3s, its
// output read back through the container reader and checked with ffprobe.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "avs/byte_source.h"
#include "avs/unit_reader.h"
#include "filesource/avs_container.h"
#include "mux/mpeg_audio_header.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kBin = AVS_BIN_DIR;
const std::string kData = AVS_TEST_DATA_DIR;
const std::string kXavs = kData + "/xavs_cif352x288_25fps_IBP_100f.avs";
const std::string kRm52j = kData + "/rm52j_cif352x288_25fps_IBBP_gop12_100f.avs";

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

Result RunLindqvale(const std::string& in, const std::string& out, bool create) {
    return Sh(Q(kBin + "/Lindqvale") + " " + Q(in) + " " + Q(out) + (create ? " -f" : ""));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
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

class Lindqvale : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lindqvale-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string MakeMp3(const std::string& name, const std::string& args) {
        const std::string out = Path(name);
        Result r = Sh("ffmpeg -v error -y -f lavfi -i " + args + " -c:a libmp3lame " + Q(out));
        EXPECT_EQ(r.code, 0) << r.out;
        return out;
    }
    // Files in the folder other than these: left-over temporaries.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string dir_;
};

std::unique_ptr<filesource::AvsContainer> OpenContainer(const std::string& path) {
    auto src = std::make_shared<mp4::FileByteSource>(path);
    return filesource::AvsContainer::open(src);
}

// Every picture back as its units, in order, with times and seek points.
void CheckVideoRoundTrip(const std::string& avs, const std::string& asm_path) {
    auto c = OpenContainer(asm_path);
    ASSERT_TRUE(c);
    const uint32_t track = c->first_track_id("vide");
    ASSERT_NE(track, 0u);
    EXPECT_EQ(c->sample_entry_type(track), "avs2");
    EXPECT_EQ(c->track_timescale(track), 90000u);  // 25 frames per second

    const std::vector<Bytes> units = UnitsOf(avs);
    Bytes expected;
    size_t pictures = 0;
    for (const auto& u : units) {
        expected.insert(expected.end(), u.begin(), u.end());
        pictures += u[3] == 0xB3 || u[3] == 0xB6;
    }
    EXPECT_EQ(pictures, 100u);
    ASSERT_EQ(c->sample_count(track), pictures);

    Bytes got;
    for (uint64_t n = 1; n <= pictures; ++n) {
        filesource::TrackSample s;
        ASSERT_TRUE(c->read_track_sample(track, n, s)) << n;
        if (n == 1) {
            EXPECT_EQ(s.bytes[3], 0xB0);
        }
        // One picture header per sample.
        size_t headers = 0;
        for (size_t i = 0; i + 3 < s.bytes.size(); ++i)
            if (s.bytes[i] == 0 && s.bytes[i + 1] == 0 && s.bytes[i + 2] == 1 &&
                (s.bytes[i + 3] == 0xB3 || s.bytes[i + 3] == 0xB6))
                ++headers;
        EXPECT_EQ(headers, 1u) << n;
        EXPECT_EQ(s.sync, s.bytes[3] != 0xB6) << n;
        EXPECT_EQ(s.start, int64_t(double((n - 1) * 3600) / 90000.0 * 1e7)) << n;
        EXPECT_EQ(s.stop - s.start, 400000) << n;
        got.insert(got.end(), s.bytes.begin(), s.bytes.end());
    }
    EXPECT_TRUE(got == expected) << "the unpacked samples are not the stream's units";
}

// The MP3's frames: everything after the ID3v2 tag, cut at frame lengths.
std::vector<Bytes> Mp3Frames(const std::string& path) {
    Bytes b = ReadFile(path);
    size_t pos = 0;
    if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3')
        pos = 10 + ((b[6] & 0x7F) << 21 | (b[7] & 0x7F) << 14 | (b[8] & 0x7F) << 7 | (b[9] & 0x7F));
    std::vector<Bytes> frames;
    while (pos + 4 <= b.size()) {
        const uint32_t raw =
            uint32_t(b[pos]) << 24 | b[pos + 1] << 16 | b[pos + 2] << 8 | b[pos + 3];
        const uint32_t len = mux::FrameLength(mux::ParseMpegAudioHeader(raw));
        if ((raw & 0xFFE00000) != 0xFFE00000 || len == 0 || pos + len > b.size()) break;
        frames.emplace_back(b.begin() + pos, b.begin() + pos + len);
        pos += len;
    }
    EXPECT_EQ(pos, b.size()) << "the generated MP3 has bytes that are no frame";
    return frames;
}

void CheckAudioRoundTrip(const std::string& mp3, const std::string& asm_path, uint32_t rate,
                         uint32_t frame_samples) {
    auto c = OpenContainer(asm_path);
    ASSERT_TRUE(c);
    const uint32_t track = c->first_track_id("soun");
    ASSERT_NE(track, 0u);
    EXPECT_EQ(c->sample_entry_type(track), "mp4a");
    EXPECT_EQ(c->track_timescale(track), rate);
    const auto frames = Mp3Frames(mp3);
    ASSERT_EQ(c->sample_count(track), frames.size());
    for (uint64_t n = 1; n <= frames.size(); ++n) {
        filesource::TrackSample s;
        ASSERT_TRUE(c->read_track_sample(track, n, s));
        EXPECT_TRUE(s.bytes == frames[n - 1]) << n;
        EXPECT_TRUE(s.sync);
        EXPECT_EQ(s.start, int64_t(double((n - 1) * frame_samples) / rate * 1e7));
    }
}

}  // namespace

TEST_F(Lindqvale, VideoThenAudioRoundTripsBothSamplesAndFfprobeAgrees) {
    const std::string mp3 = MakeMp3("a.mp3", "sine=frequency=440:duration=4.2");
    for (const std::string& avs : {kXavs, kRm52j}) {
        SCOPED_TRACE(avs);
        const std::string out = Path("clip.asm");
        Result r = RunLindqvale(avs, out, true);
        ASSERT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.out, "video: 100 samples, 4.000 s\n");
        // The signature sits where the filter looks for it.
        Bytes head = ReadFile(out);
        ASSERT_GE(head.size(), 24u);
        EXPECT_EQ(std::string(head.begin() + 4, head.begin() + 24),
                  std::string("ftypavs2\0\0\0\0avs2isom", 20));
        CheckVideoRoundTrip(avs, out);

        r = RunLindqvale(mp3, out, false);
        ASSERT_EQ(r.code, 0) << r.out;
        CheckVideoRoundTrip(avs, out);
        CheckAudioRoundTrip(mp3, out, 44100, 1152);
        const size_t frames = Mp3Frames(mp3).size();

        // A peer's reading: both tracks, our counts and durations, no complaint.
        Result probe =
            Sh("ffprobe -v warning -show_entries "
               "stream=codec_type,nb_frames,duration_ts,time_base:format=duration "
               "-of compact=nk=0 " +
               Q(out));
        ASSERT_EQ(probe.code, 0);
        EXPECT_NE(probe.out.find("codec_type=video|time_base=1/90000|duration_ts=360000|"
                                 "nb_frames=100"),
                  std::string::npos)
            << probe.out;
        EXPECT_NE(
            probe.out.find("codec_type=audio|time_base=1/44100|duration_ts=" +
                           std::to_string(frames * 1152) + "|nb_frames=" + std::to_string(frames)),
            std::string::npos)
            << probe.out;
        EXPECT_EQ(probe.out.find("arning"), std::string::npos) << probe.out;
        // mvhd: the longer track, in milliseconds rounded up.
        const double longest = std::max(4.0, frames * 1152 / 44100.0);
        EXPECT_NE(probe.out.find("format|duration=" +
                                 std::to_string(std::ceil(longest * 1000) / 1000).substr(0, 5)),
                  std::string::npos)
            << probe.out;
        // FFmpeg's own demuxing and copying reads every packet.
        Result copy = Sh("ffmpeg -v warning -i " + Q(out) + " -map 0 -c copy -f null -");
        EXPECT_EQ(copy.code, 0) << copy.out;
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a.mp3", "clip.asm"}));
}

TEST_F(Lindqvale, AudioOfOtherRatesAndReplacingTheAudioTrack) {
    const std::string out = Path("c.asm");
    ASSERT_EQ(RunLindqvale(kXavs, out, true).code, 0);
    // MPEG-2 layer III: 576 samples per frame, mono.
    const std::string low = MakeMp3("low.mp3", "sine=duration=2 -ar 22050 -ac 1");
    ASSERT_EQ(RunLindqvale(low, out, false).code, 0);
    CheckAudioRoundTrip(low, out, 22050, 576);
    Result probe =
        Sh("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of "
           "compact " +
           Q(out));
    EXPECT_NE(probe.out.find("codec_name=mp3|sample_rate=22050|channels=1"), std::string::npos)
        << probe.out;

    // Adding audio again replaces the track instead of adding a second one.
    const std::string high = MakeMp3("high.mp3", "sine=duration=1 -ar 48000");
    ASSERT_EQ(RunLindqvale(high, out, false).code, 0);
    auto c = OpenContainer(out);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->track_count("soun"), 1u);
    EXPECT_EQ(c->track_count("vide"), 1u);
    c.reset();
    CheckAudioRoundTrip(high, out, 48000, 1152);
    CheckVideoRoundTrip(kXavs, out);
}

TEST_F(Lindqvale, BadInputLeavesNoBrokenOrChangedContainer) {
    const std::string out = Path("keep.asm");
    // Wrong command lines.
    EXPECT_EQ(Sh(Q(kBin + "/Lindqvale")).code, 2);
    EXPECT_EQ(Sh(Q(kBin + "/Lindqvale") + " a b c").code, 2);
    EXPECT_EQ(Sh(Q(kBin + "/Lindqvale") + " --help").code, 0);

    // Missing input: one line, no output.
    Result r = RunLindqvale(Path("none.avs"), out, true);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_FALSE(fs::exists(out));
    // Audio for a container that is not there.
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    EXPECT_EQ(RunLindqvale(mp3, out, false).code, 1);
    EXPECT_FALSE(fs::exists(out));

    ASSERT_EQ(RunLindqvale(kRm52j, out, true).code, 0);
    const Bytes before = ReadFile(out);

    auto write = [&](const std::string& name, const Bytes& b) {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), b.size());
        return Path(name);
    };
    // Not AVS video: no sequence header first, no pictures, garbage.
    Bytes avs = ReadFile(kXavs);
    const std::vector<Bytes> units = UnitsOf(kXavs);
    ASSERT_EQ(units[1][3], 0xB3);
    const std::vector<std::pair<std::string, Bytes>> bad_video = {
        {"nohdr.avs", Bytes(avs.begin() + 200, avs.end())},
        {"headeronly.avs", units[0]},
        {"empty.avs", {}},
        {"text.avs", Bytes(5000, 'x')},
    };
    for (const auto& [name, bytes] : bad_video) {
        r = RunLindqvale(write(name, bytes), out, true);
        EXPECT_EQ(r.code, 1) << name;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << name << ": " << r.out;
        EXPECT_TRUE(ReadFile(out) == before) << name;
    }
    // Not MP3: layer II, a WAV file, nothing.
    Result mp2 = Sh("ffmpeg -v error -y -f lavfi -i sine=duration=1 -c:a mp2 " + Q(Path("a.mp2")));
    ASSERT_EQ(mp2.code, 0);
    Result wav = Sh("ffmpeg -v error -y -f lavfi -i sine=duration=1 " + Q(Path("a.wav")));
    ASSERT_EQ(wav.code, 0);
    std::filesystem::copy_file(kXavs, Path("video.avs"));
    for (const char* name : {"a.mp2", "a.wav", "empty.avs", "video.avs"}) {
        r = RunLindqvale(Path(name), out, false);
        EXPECT_EQ(r.code, 1) << name;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << name << ": " << r.out;
        EXPECT_TRUE(ReadFile(out) == before) << name;
    }
    EXPECT_NE(RunLindqvale(Path("a.mp2"), out, false).out.find("layer II,"), std::string::npos);
    // A container without AVS video cannot take audio.
    r = RunLindqvale(mp3, write("not.asm", Bytes(100, 0)), false);
    EXPECT_EQ(r.code, 1);
    // No temporary file is left behind by any of this.
    for (const auto& name : Entries()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

TEST_F(Lindqvale, AnInputNamedAsTheOutputIsRefusedAndKept) {
    const std::string avs = Path("v.avs");
    fs::copy_file(kXavs, avs);
    fs::create_symlink(avs, Path("link.avs"));
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    const Bytes video = ReadFile(avs), audio = ReadFile(mp3);
    // The same file by its name, through "./" and through a symbolic link, in either step.
    for (const std::string& out : {avs, dir_ + "/./v.avs", Path("link.avs")}) {
        Result r = RunLindqvale(avs, out, true);
        EXPECT_EQ(r.code, 1) << out;
        EXPECT_EQ(r.out, "Lindqvale: output " + out + " is the input itself\n");
        EXPECT_TRUE(ReadFile(avs) == video) << out;
    }
    Result r = RunLindqvale(mp3, dir_ + "/./a.mp3", false);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(ReadFile(mp3) == audio);
    EXPECT_TRUE(fs::is_symlink(Path("link.avs")));
    for (const auto& name : Entries()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

TEST_F(Lindqvale, AFifoOrADeviceAsOutputIsWrittenInPlace) {
    // One creation time for both runs, or a second ticking between them tells them apart.
    ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "1700000000", 1), 0);
    const std::string reference = Path("ref.asm");
    ASSERT_EQ(RunLindqvale(kRm52j, reference, true).code, 0);

    // A reader on the FIFO takes the whole container; the time limit keeps a reader whose
    // FIFO was replaced from waiting for ever.
    const std::string fifo = Path("pipe.asm"), received = Path("received.asm");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Result read_back;
    std::thread reader([&] { read_back = Sh("timeout 30 cat " + Q(fifo) + " > " + Q(received)); });
    Result r = RunLindqvale(kRm52j, fifo, true);
    reader.join();
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(read_back.code, 0) << read_back.out;
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(ReadFile(received) == ReadFile(reference));

    // A device stays the device: /dev/null takes it all, /dev/full fails with one line.
    r = RunLindqvale(kRm52j, "/dev/null", true);
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    r = RunLindqvale(kRm52j, "/dev/full", true);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    // The audio step reads the container back from its output: refused at once for both.
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    for (const std::string& out : {fifo, std::string("/dev/null")}) {
        r = RunLindqvale(mp3, out, false);
        EXPECT_EQ(r.code, 1) << out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << out << ": " << r.out;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    for (const auto& name : Entries()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
    unsetenv("SOURCE_DATE_EPOCH");
}

TEST_F(Lindqvale, StreamsWithLeadingZeroOrGarbageAroundFrames) {
    // 00 00 00 01 at the start: the first sample still begins with 00 00 01 B0.
    Bytes avs = ReadFile(kXavs);
    avs.insert(avs.begin(), 0);
    const std::string in = Path("zero.avs");
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(avs.data()), avs.size());
    const std::string out = Path("z.asm");
    ASSERT_EQ(RunLindqvale(in, out, true).code, 0);
    auto c = OpenContainer(out);
    ASSERT_TRUE(c);
    filesource::TrackSample s;
    ASSERT_TRUE(c->read_track_sample(1, 1, s));
    EXPECT_EQ(Bytes(s.bytes.begin(), s.bytes.begin() + 4), (Bytes{0, 0, 1, 0xB0}));
    c.reset();

    // Garbage between MP3 frames is skipped with a warning; every frame stays.
    const std::string mp3 = MakeMp3("a.mp3", "sine=duration=1");
    const auto frames = Mp3Frames(mp3);
    Bytes dirty;
    for (size_t i = 0; i < frames.size(); ++i) {
        dirty.insert(dirty.end(), frames[i].begin(), frames[i].end());
        if (i == 5) dirty.insert(dirty.end(), {0x12, 0xFF, 0x34, 0x56});
    }
    dirty.resize(dirty.size() - 10);  // last frame cut short: left out
    const std::string dirty_path = Path("dirty.mp3");
    std::ofstream(dirty_path, std::ios::binary)
        .write(reinterpret_cast<const char*>(dirty.data()), dirty.size());
    Result r = RunLindqvale(dirty_path, out, false);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("skipped 4 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cut short"), std::string::npos) << r.out;
    c = OpenContainer(out);
    ASSERT_TRUE(c);
    ASSERT_EQ(c->sample_count(2), frames.size() - 1);
    ASSERT_TRUE(c->read_track_sample(2, 7, s));
    EXPECT_TRUE(s.bytes == frames[6]);
}

// Pictures are stored in coding order; their presentation times (composition offsets and
// an edit list) must put them back in display order from time 0, whether the stream's
// picture_distance runs on (rm52j) or restarts at each intra picture (xavs). A stream of
// intra and P pictures only keeps its times as they were, without the boxes.
TEST_F(Lindqvale, BPicturesGetPresentationTimesInDisplayOrder) {
    for (const std::string& avs : {kXavs, kRm52j}) {
        SCOPED_TRACE(avs);
        const std::string out = Path("b.asm");
        ASSERT_EQ(RunLindqvale(avs, out, true).code, 0);
        const Result probe =
            Sh("ffprobe -v error -select_streams v -show_entries packet=pts,dts -of csv=p=0 " +
               Q(out));
        ASSERT_EQ(probe.code, 0) << probe.out;
        std::vector<long> pts;
        std::istringstream lines(probe.out);
        bool reordered = false;
        for (std::string line; std::getline(lines, line);) {
            const long p = std::atol(line.c_str());
            const long d = std::atol(line.substr(line.find(',') + 1).c_str());
            EXPECT_LE(d, p) << line;  // decoded before it is shown
            if (!pts.empty() && p < pts.back()) reordered = true;
            pts.push_back(p);
        }
        ASSERT_EQ(pts.size(), 100u);
        EXPECT_TRUE(reordered) << "B pictures are shown before the reference coded ahead";
        std::sort(pts.begin(), pts.end());
        for (size_t i = 0; i < pts.size(); ++i) ASSERT_EQ(pts[i], static_cast<long>(i * 3600));
        const Bytes bytes = ReadFile(out);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_NE(text.find("ctts"), std::string::npos);
        EXPECT_NE(text.find("elst"), std::string::npos);
    }
    // A stream without B pictures (the encoder's -b 0).
    const std::string clip = Path("p.mkv");
    ASSERT_EQ(Sh("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 6 "
                 "-c:v ffv1 " +
                 Q(clip))
                  .code,
              0);
    ASSERT_EQ(Sh(Q(kBin + "/Harrowgate") + " " + Q(clip) + " " + Q(Path("p.avs")) + " -b 0").code,
              0);
    ASSERT_EQ(RunLindqvale(Path("p.avs"), Path("p.asm"), true).code, 0);
    const Bytes bytes = ReadFile(Path("p.asm"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("ctts"), std::string::npos);
    EXPECT_EQ(text.find("edts"), std::string::npos);
}
