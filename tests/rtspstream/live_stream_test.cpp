// Tallowmere against servers as real networks deliver: paced in real time,
// stalling, sending in bursts; and seeks that meet a full queue or a stopped
// audio-only stream. What reaches the renderers, and when.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rtspstream/sample_position.h"
#include "tests/rtspstream/graph_harness.h"

namespace {

using namespace rtspstreamtest;
using Kind = CaptureEvent::Kind;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// `copies` of the test stream one after another: a clip `copies` times as long.
std::string Repeated(const std::string& source, int copies, const std::string& name) {
    std::string path = ::testing::TempDir() + name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (int i = 0; i < copies; ++i) {
        std::FILE* in = std::fopen(source.c_str(), "rb");
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            std::fwrite(buffer, 1, got, out);
        std::fclose(in);
    }
    std::fclose(out);
    return path;
}

// Pictures FFmpeg's AVS decoder makes of a stream, -1 when it reports an error.
int DecodedPictures(const std::string& path) {
    std::string command = "ffmpeg -v error -xerror -f cavsvideo -i '" + path +
                          "' -f framecrc - 2>/dev/null | grep -vc '^#'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    int count = -1;
    if (std::fscanf(pipe, "%d", &count) != 1) count = -1;
    return pclose(pipe) == 0 ? count : -1;
}

struct Delivery {
    size_t samples = 0;  // pictures, the header sample not counted
    size_t empty = 0;    // of them, after the first that carried bytes
    size_t mismatched = 0;
    size_t segments_after_first = 0;  // new segments after the first picture
    double first_after = 0;           // seconds from the start to the first picture
    double widest_gap = 0;            // between consecutive pictures after the first
    double end_after_start = 0;       // end of stream after the start
};

// What the video renderer saw, against the served pictures; the delivered stream
// goes to `written` for decoding.
Delivery Examine(const std::vector<Seen>& seen, const rtspserve::Server& server,
                 const std::string& video_path, Clock::time_point began,
                 const std::string& written) {
    Delivery d;
    const auto& pictures = server.Video().pictures;
    std::FILE* out = std::fopen(written.c_str(), "wb");
    const Seen* previous = nullptr;
    bool header = true;
    for (const Seen& e : seen) {
        if (e.kind == Kind::kNewSegment && previous) ++d.segments_after_first;
        if (e.kind == Kind::kEndOfStream && previous) d.end_after_start = Seconds(e.at - began);
        if (e.kind != Kind::kSample) continue;
        std::fwrite(e.bytes.data(), 1, e.bytes.size(), out);
        if (header) {  // the sequence header goes first, on its own
            header = false;
            continue;
        }
        const size_t index = d.samples++;
        if (e.bytes.empty()) {
            if (previous) ++d.empty;
            continue;
        }
        if (index >= pictures.size() ||
            e.bytes != ReadRange(video_path, static_cast<long>(pictures[index].offset),
                                 pictures[index].length))
            ++d.mismatched;
        if (previous)
            d.widest_gap = std::max(d.widest_gap, Seconds(e.at - previous->at));
        else
            d.first_after = Seconds(e.at - began);
        previous = &e;
    }
    std::fclose(out);
    return d;
}

// Plays a stored stream served by `o` to its end; `began` is taken just before PLAY.
void PlayToEnd(Player& p, const Served& s, Clock::time_point& began) {
    ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);
    p.Render();
    ASSERT_TRUE(p.video_renderer);
    began = Clock::now();
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    ASSERT_EQ(p.Control()->Run(), S_OK);
    ASSERT_TRUE(p.video.WaitEnd(40s));
    if (p.audio_renderer) {
        ASSERT_TRUE(p.audio.WaitEnd(10s));
    }
}

// A 12 s stream in real time: every picture goes out whole, the first within a
// second, the rest as the server sends them, and the end soon after the last.
void ExpectSmoothRealTime(const std::string& video_path, const std::string& audio_path) {
    rtspserve::ServerOptions o;
    o.video_path = video_path;
    o.audio_path = audio_path;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    Player p;
    Clock::time_point began;
    PlayToEnd(p, s, began);
    const std::string written = video_path + ".delivered.avs";
    Delivery d = Examine(p.video.Snapshot(), *s.server, video_path, began, written);
    const size_t pictures = s.server->Video().pictures.size();
    // A real-time server sends the last picture this long after the PLAY.
    const double last_sent = static_cast<double>(pictures - 1) / s.server->Video().frame_rate;
    const double end_after_last = d.end_after_start - last_sent;
    std::printf(
        "%s%s: %zu pictures, %zu empty, first %.3f s after PLAY, widest gap %.3f s, "
        "end %.3f s after the server's last\n",
        video_path.c_str(), audio_path.empty() ? "" : " with audio", d.samples, d.empty,
        d.first_after, d.widest_gap, end_after_last);
    EXPECT_EQ(d.samples, pictures);
    EXPECT_EQ(d.empty, 0u);
    EXPECT_EQ(d.mismatched, 0u);
    EXPECT_LT(d.first_after, 1.0);
    EXPECT_LT(d.widest_gap, 0.5);
    EXPECT_LT(end_after_last, 3.0);
    // As many as FFmpeg makes of the source itself (its AVS decoder leaves out the last).
    const int decodable = DecodedPictures(video_path);
    EXPECT_GE(decodable, static_cast<int>(pictures) - 1);
    EXPECT_EQ(DecodedPictures(written), decodable);
    if (!audio_path.empty()) {
        size_t audio = 0, empty = 0;
        for (const Seen& e : p.audio.Snapshot())
            if (e.kind == Kind::kSample) ++audio, empty += e.bytes.empty();
        EXPECT_EQ(audio, s.server->Audio()->frames.size());
        EXPECT_EQ(empty, 0u);
    }
    ASSERT_EQ(p.Control()->Stop(), S_OK);
}

TEST(TallowmereLive, RealTimeServerSmallPicturesWithAndWithoutAudio) {
    // 300 pictures of about 470 bytes: each one drains the queue.
    const std::string clip = Repeated(SampleAvs(), 3, "cif_x3.avs");
    ExpectSmoothRealTime(clip, "");
    ExpectSmoothRealTime(clip, WriteMp3("cif_x3.mp3", 460));  // 12.0 s
}

TEST(TallowmereLive, RealTimeServerLargePicturesWithAndWithoutAudio) {
    const std::string source = ::testing::TempDir() + "live720.mkv";
    const std::string clip = ::testing::TempDir() + "live720.avs";
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -t 12 "
                           "-c:v ffv1 '" +
                           source + "'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("'" AVS_BIN_DIR "/Harrowgate' '" + source + "' '" + clip +
                           "' -n 25 >/dev/null 2>&1")
                              .c_str()),
              0);
    ExpectSmoothRealTime(clip, "");
    ExpectSmoothRealTime(clip, WriteMp3("live720.mp3", 460));
}

// A 2 s stall: one buffering episode, nothing emptied (nothing was lost). Bursts
// every 200 ms: no buffering and nothing emptied either.
TEST(TallowmereLive, StallBuffersOnceJitterNotAtAll) {
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind == 0 ? "stall" : "jitter");
        rtspserve::ServerOptions o;
        if (kind == 0) {
            o.faults.stall_at = 1.5;
            o.faults.stall_seconds = 2.0;
        } else {
            o.faults.jitter_ms = 200;
            o.audio_path = WriteMp3("jitter.mp3", 150);  // 3.9 s
        }
        Served s = Serve(o);
        ASSERT_TRUE(s.server);
        Player p;
        Clock::time_point began;
        PlayToEnd(p, s, began);
        Delivery d = Examine(p.video.Snapshot(), *s.server, SampleAvs(), began,
                             ::testing::TempDir() + "stall_delivered.avs");
        EXPECT_EQ(d.samples, s.server->Video().pictures.size());
        EXPECT_EQ(d.empty, 0u);
        EXPECT_EQ(d.mismatched, 0u);
        if (kind == 0) {
            EXPECT_EQ(d.segments_after_first, 1u);  // time restarts after the wait
            EXPECT_GT(d.widest_gap, 1.5);           // the stall was there to see
        } else {
            EXPECT_EQ(d.segments_after_first, 0u);
            EXPECT_LT(d.widest_gap, 0.5);
            size_t segments = 0;
            bool first = false;
            for (const Seen& e : p.audio.Snapshot()) {
                if (e.kind == Kind::kSample) first = true;
                if (e.kind == Kind::kNewSegment && first) ++segments;
            }
            EXPECT_EQ(segments, 0u);
        }
        ASSERT_EQ(p.Control()->Stop(), S_OK);
    }
}

// A seek while paused with the queue full: the receive thread, held in the
// full queue, is let go before PAUSE, so the seek returns at once and plays.
TEST(TallowmereLive, SeekWhilePausedWithAFullQueueReturnsAtOnce) {
    rtspserve::ServerOptions o;
    o.video_path = Repeated(SampleAvs(), 250, "big.avs");  // 11.6 MB, 1000 s
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    Player p;
    ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);
    p.Render();
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    auto queued = [&] {
        DWORD bytes = 0;
        p.source.As<rtspstream::ISamplePosition>(rtspstream::IID_ISamplePosition)
            ->GetQueuedVideoBytes(&bytes);
        return bytes;
    };
    const auto deadline = Clock::now() + 20s;
    while (queued() < 10000000 && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
    const DWORD full = queued();
    ASSERT_GE(full, 10000000u);
    const size_t before = p.video.Snapshot().size();
    LONGLONG start = 100000000, stop = 0;
    ASSERT_EQ(p.Seeking()->GetDuration(&stop), S_OK);
    const auto asked = Clock::now();
    ASSERT_EQ(p.Seeking()->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                        AM_SEEKING_AbsolutePositioning),
              S_OK);
    const double took = Seconds(Clock::now() - asked);
    std::printf("seek with %u bytes queued took %.3f s\n", static_cast<unsigned>(full), took);
    EXPECT_LT(took, 1.0);
    ASSERT_EQ(p.Control()->Run(), S_OK);
    // Pictures from 10 s on: the I picture at or before picture 250 comes first.
    const auto& pictures = s.server->Video().pictures;
    size_t i = 250;
    while (i > 0 && !pictures[i].random_access) --i;
    ASSERT_TRUE(p.video.WaitFor(
        [&](const std::vector<Seen>& v) {
            for (size_t k = before; k < v.size(); ++k)
                if (v[k].kind == Kind::kSample && !v[k].bytes.empty()) return true;
            return false;
        },
        10s));
    std::vector<Seen> all = p.video.Snapshot();
    for (size_t k = before; k < all.size(); ++k) {
        if (all[k].kind != Kind::kSample || all[k].bytes.empty()) continue;
        EXPECT_EQ(all[k].bytes, ReadRange(o.video_path, static_cast<long>(pictures[i].offset),
                                          pictures[i].length));
        break;
    }
    ASSERT_EQ(p.Control()->Stop(), S_OK);
}

// A seek made while stopped on an audio-only stream goes with the first PLAY.
TEST(TallowmereLive, AudioOnlySeekWhileStoppedPlaysFromThere) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("stopped_seek.mp3", 200);  // 5.2 s
    o.audio_only = true;
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    RequestRecorder recorder(s.server->Port());
    Player p;
    ASSERT_EQ(p.Load(recorder.Base() + "/clip.asm"), S_OK);
    p.Render();
    ASSERT_TRUE(p.audio_renderer);
    LONGLONG start = 20000000, stop = 0;
    ASSERT_EQ(p.Seeking()->GetDuration(&stop), S_OK);
    ASSERT_EQ(p.Seeking()->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                        AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    ASSERT_EQ(p.Control()->Run(), S_OK);
    ASSERT_TRUE(p.audio.WaitEnd(20s));
    ASSERT_FALSE(recorder.Requests().empty());
    EXPECT_EQ(recorder.Requests().back().range.substr(0, 10), "npt=2.000-");
    const auto& frames = s.server->Audio()->frames;
    const auto first = static_cast<size_t>(2.0 / (1152.0 / 44100.0));
    std::vector<Seen> audio;
    for (const Seen& e : p.audio.Snapshot())
        if (e.kind == Kind::kSample) audio.push_back(e);
    // Up to the range's end (the duration in whole seconds).
    const auto end =
        static_cast<size_t>(std::ceil(static_cast<double>(stop) / 1e7 / (1152.0 / 44100.0)));
    ASSERT_EQ(audio.size(), std::min(end, frames.size()) - first);
    EXPECT_EQ(audio[0].bytes, ReadRange(o.audio_path, static_cast<long>(frames[first].offset),
                                        frames[first].length));
    ASSERT_EQ(p.Control()->Stop(), S_OK);
}

}  // namespace
