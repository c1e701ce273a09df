// Tallowmere in a graph against rtspserve over 127.0.0.1: what reaches the
// renderers, the requests the server sees, and how faults end.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "rtspstream/rtsp_audio_stream.h"
#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/sample_position.h"
#include "tests/rtspstream/graph_harness.h"

namespace {

using namespace rtspstreamtest;
using Kind = CaptureEvent::Kind;

std::vector<Seen> SamplesOf(const std::vector<Seen>& seen) {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.kind == Kind::kSample) out.push_back(s);
    return out;
}

// The bytes of one picture of the served test stream.
Bytes PictureBytes(const rtspserve::PictureEntry& picture) {
    return ReadRange(SampleAvs(), static_cast<long>(picture.offset), picture.length);
}

// Pause, Run, and wait until `capture` has seen `samples` samples.
bool StartPlaying(Player& p, Capture& capture, size_t samples) {
    auto control = p.Control();
    return control->Pause() == S_OK && control->Run() == S_OK && capture.WaitSamples(samples, 10s);
}

DWORD QueuedVideoBytes(Player& p) {
    DWORD queued = 0;
    p.source.As<rtspstream::ISamplePosition>(rtspstream::IID_ISamplePosition)
        ->GetQueuedVideoBytes(&queued);
    return queued;
}

TEST(TallowmereGraph, EveryPictureAndAudioFrameWithTimesSegmentsAndEnd) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("graph_a.mp3", 200);  // 5.2 s, longer than the 4 s of video
    o.paced = false;
    o.max_payload = 1000;  // single units, aggregation and fragments
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    const auto& pictures = s.server->Video().pictures;
    const auto& frames = s.server->Audio()->frames;

    Player p;
    ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);  // stored: seekable, ends
    EXPECT_FALSE(p.filter->live());
    p.Render();
    ASSERT_TRUE(p.video_renderer && p.audio_renderer);
    EXPECT_EQ(p.filter->shared().duration(), 40000000);
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    ASSERT_EQ(p.Control()->Run(), S_OK);
    ASSERT_TRUE(p.video.WaitEnd(20s));
    ASSERT_TRUE(p.audio.WaitEnd(20s));
    LONG code = 0;
    EXPECT_EQ(p.graph.As<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);

    // Video: segment of the start, the header sample, the segment after
    // buffering, then every picture; the last, queued at the end, lasts as long as
    // the one before it.
    std::vector<Seen> seen = p.video.Snapshot();
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0].kind, Kind::kNewSegment);
    EXPECT_EQ(seen[0].segment_start, 0);
    EXPECT_EQ(seen[0].segment_stop, 40000000);
    ASSERT_EQ(seen[1].kind, Kind::kSample);
    EXPECT_FALSE(seen[1].has_time);
    const Bytes& sequence = s.server->Video().sequence_header;
    Bytes header(3 + sequence.size());
    header[2] = 1;
    std::memcpy(header.data() + 3, sequence.data(), sequence.size());
    EXPECT_EQ(seen[1].bytes, header);
    EXPECT_EQ(seen[2].kind, Kind::kNewSegment);
    EXPECT_EQ(seen[2].segment_start, 0);
    EXPECT_EQ(seen[2].segment_stop, 0x7F00000000000000LL);
    std::vector<Seen> video(seen.begin() + 3, seen.end() - 1);
    ASSERT_EQ(video.size(), pictures.size());
    for (size_t i = 0; i < video.size(); ++i) {
        ASSERT_EQ(video[i].kind, Kind::kSample) << i;
        Bytes expected = PictureBytes(pictures[i]);
        ASSERT_EQ(video[i].bytes, expected) << "picture " << i;
        EXPECT_EQ(video[i].start, static_cast<int64_t>(i) * 400000) << i;
        EXPECT_EQ(video[i].stop, static_cast<int64_t>(i + 1) * 400000) << i;
        EXPECT_TRUE(video[i].sync) << i;  // every picture but the first after a seek
        EXPECT_EQ(video[i].discontinuity, i == 0) << i;
    }

    // Audio: segments likewise, then every frame, byte for byte.
    seen = p.audio.Snapshot();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, Kind::kNewSegment);
    EXPECT_EQ(seen[1].kind, Kind::kNewSegment);
    EXPECT_EQ(seen[1].segment_stop, 0x7F00000000000000LL);
    std::vector<Seen> audio = SamplesOf(seen);
    ASSERT_EQ(audio.size(), frames.size());
    for (size_t j = 0; j < audio.size(); ++j) {
        Bytes expected =
            ReadRange(o.audio_path, static_cast<long>(frames[j].offset), frames[j].length);
        ASSERT_EQ(audio[j].bytes, expected) << "audio frame " << j;
        EXPECT_NEAR(static_cast<double>(audio[j].start), j * 1152.0 / 44100.0 * 1e7, 200.0);
        EXPECT_NEAR(static_cast<double>(audio[j].stop), (j + 1) * 1152.0 / 44100.0 * 1e7, 200.0);
        EXPECT_TRUE(audio[j].sync);
    }
}

// A server pacing in real time is still sending the last 2 s when playback
// comes within 2 s of the end: the streams end only once it has stopped, with
// every picture and audio frame, and promptly after that.
TEST(TallowmereGraph, RealTimeServerKeepsItsTail) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("paced_a.mp3", 160);  // 4.18 s, ends after the video
    o.paced = true;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    const auto& pictures = s.server->Video().pictures;
    const auto& frames = s.server->Audio()->frames;

    Player p;
    ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);
    p.Render();
    ASSERT_TRUE(p.video_renderer && p.audio_renderer);
    auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    ASSERT_EQ(p.Control()->Run(), S_OK);
    ASSERT_TRUE(p.video.WaitEnd(20s));
    ASSERT_TRUE(p.audio.WaitEnd(20s));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // Not before the server's last frame (4.18 s of audio), and within the
    // quiet period and a loaded machine's slack after it.
    EXPECT_GE(took, 4.0);
    EXPECT_LT(took, 10.0);

    std::vector<Seen> video = SamplesOf(p.video.Snapshot());
    ASSERT_EQ(video.size(), pictures.size() + 1);  // the header sample, then every picture
    // A real-time server leaves the queue empty between pictures: that is no stall,
    // and no picture that arrived whole may go out empty. The pictures come as the
    // server sends them: the first within a second, then never 0.5 s apart.
    for (size_t i = 1; i < video.size(); ++i)
        ASSERT_EQ(video[i].bytes, PictureBytes(pictures[i - 1])) << "picture " << i - 1;
    EXPECT_LT(std::chrono::duration<double>(video[1].at - began).count(), 1.0);
    double widest = 0;
    for (size_t i = 2; i < video.size(); ++i)
        widest =
            std::max(widest, std::chrono::duration<double>(video[i].at - video[i - 1].at).count());
    EXPECT_LT(widest, 0.5);
    std::vector<Seen> audio = SamplesOf(p.audio.Snapshot());
    ASSERT_EQ(audio.size(), frames.size());
    for (size_t j = 0; j < audio.size(); ++j) {
        Bytes expected =
            ReadRange(o.audio_path, static_cast<long>(frames[j].offset), frames[j].length);
        ASSERT_EQ(audio[j].bytes, expected) << "audio frame " << j;
    }
    ASSERT_EQ(p.Control()->Stop(), S_OK);
}

// Pause, Run, Stop, a seek while stopped, Pause again, a seek while paused,
// Stop: the requests on the wire and what the seeks deliver.
TEST(TallowmereGraph, RequestsFollowStateChangesAndSeeks) {
    rtspserve::ServerOptions o;
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    RequestRecorder recorder(s.server->Port());
    const auto& pictures = s.server->Video().pictures;

    Player p;
    ASSERT_EQ(p.Load(recorder.Base() + "/clip.asm"), S_OK);
    p.Render();
    auto control = p.Control();
    ASSERT_TRUE(StartPlaying(p, p.video, 5));
    ASSERT_EQ(control->Stop(), S_OK);
    std::vector<std::string> expected = {"DESCRIBE", "SETUP", "PLAY", "TEARDOWN"};
    EXPECT_EQ(recorder.Methods(), expected);

    // A seek while stopped goes with the next PLAY.
    auto seeking = p.Seeking();
    ASSERT_TRUE(seeking);
    LONGLONG start = 10000000, stop = 40000000;
    ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_AbsolutePositioning),
              S_OK);
    EXPECT_TRUE(p.filter->video_pin()->seek_pending());
    ASSERT_EQ(control->Pause(), S_OK);
    expected.insert(expected.end(), {"DESCRIBE", "SETUP", "PLAY"});
    EXPECT_EQ(recorder.Methods(), expected);
    EXPECT_EQ(recorder.Requests().back().range, "npt=1.000-4.000");
    EXPECT_FALSE(p.filter->video_pin()->seek_pending());

    // A seek while paused: PAUSE, then PLAY with the range; samples restart
    // from the I picture at or before 2 s, timed from the seek position.
    start = 20000000;
    size_t before = p.video.Snapshot().size();
    ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_AbsolutePositioning),
              S_OK);
    expected.insert(expected.end(), {"PAUSE", "PLAY"});
    EXPECT_EQ(recorder.Methods(), expected);
    EXPECT_EQ(recorder.Requests().back().range, "npt=2.000-4.000");
    // This connection's time line began at 1 s, where its first PLAY started.
    EXPECT_EQ(p.filter->shared().base_time(), 10000000);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(p.video.WaitFor(
        [&](const std::vector<Seen>& v) {
            for (size_t i = before; i < v.size(); ++i)
                if (v[i].kind == Kind::kSample && v[i].has_time && !v[i].bytes.empty()) return true;
            return false;
        },
        10s));
    std::vector<Seen> all = p.video.Snapshot();
    std::vector<Seen> after(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    bool flushed = false, segment = false;
    const Seen* first = nullptr;
    for (const Seen& e : after) {
        flushed |= e.kind == Kind::kBeginFlush;
        if (e.kind == Kind::kNewSegment && e.segment_start == 20000000) segment = true;
        if (e.kind == Kind::kSample && e.has_time && !e.bytes.empty() && !first) first = &e;
    }
    EXPECT_TRUE(flushed);
    EXPECT_TRUE(segment);
    ASSERT_TRUE(first);
    size_t i = 50;  // 2 s at 25 pictures/s, back to its I picture
    while (i > 0 && !pictures[i].random_access) --i;
    Bytes expected_bytes = PictureBytes(pictures[i]);
    EXPECT_EQ(first->bytes, expected_bytes);
    EXPECT_FALSE(first->sync);  // the first picture after a seek
    EXPECT_EQ(first->start, static_cast<int64_t>(i) * 400000 - 20000000);
    EXPECT_EQ(first->stop, static_cast<int64_t>(i + 1) * 400000 - 20000000);

    ASSERT_EQ(control->Stop(), S_OK);
    expected.push_back("TEARDOWN");
    EXPECT_EQ(recorder.Methods(), expected);
}

// Pause from Running asks nothing of the server. A stored stream's pin keeps
// its queue and plays on from where it was; a live stream's pin drops it.
TEST(TallowmereGraph, PauseFromRunningKeepsAStoredQueueAndDropsALiveOne) {
    for (bool live : {false, true}) {
        SCOPED_TRACE(live ? "live" : "stored");
        rtspserve::ServerOptions o;
        o.paced = false;  // everything is queued at once; the renderer plays by the clock
        Served s = Serve(o);
        ASSERT_TRUE(s.server);
        RequestRecorder recorder(s.server->Port());
        const auto& pictures = s.server->Video().pictures;

        Player p;
        ASSERT_EQ(p.Load(recorder.Base() + (live ? "/clip.avs" : "/clip.asm")), S_OK);
        EXPECT_EQ(p.filter->live(), live);
        p.Render();
        auto control = p.Control();
        ASSERT_TRUE(StartPlaying(p, p.video, 8));
        ASSERT_GT(QueuedVideoBytes(p), 0u);  // the rest of the clip waits in the queue
        ASSERT_EQ(control->Pause(), S_OK);
        const std::vector<std::string> expected = {"DESCRIBE", "SETUP", "PLAY"};
        EXPECT_EQ(recorder.Methods(), expected);
        if (live) {
            EXPECT_EQ(QueuedVideoBytes(p), 0u);
            ASSERT_EQ(control->Stop(), S_OK);
            continue;
        }
        EXPECT_GT(QueuedVideoBytes(p), 0u);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(p.video.WaitEnd(20s));
        // One unbroken run of pictures from the first to the last.
        std::vector<Seen> video = SamplesOf(p.video.Snapshot());
        ASSERT_EQ(video.size(), pictures.size() + 1);
        for (size_t i = 1; i < video.size(); ++i) {
            if (video[i].bytes.empty()) continue;
            Bytes expected_bytes = PictureBytes(pictures[i - 1]);
            ASSERT_EQ(video[i].bytes, expected_bytes) << "picture " << i - 1;
            EXPECT_EQ(video[i].start, static_cast<int64_t>(i - 1) * 400000) << i;
        }
        ASSERT_EQ(control->Stop(), S_OK);
    }
}

// ISamplePosition's restart: Stop (TEARDOWN), a seek to 0 while stopped, Run
// (the stream set up again, PLAY from 0): the clip plays again from its first
// picture to its end.
TEST(TallowmereGraph, RestartPlaysTheStreamAgainFromItsStart) {
    rtspserve::ServerOptions o;
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    RequestRecorder recorder(s.server->Port());
    const auto& pictures = s.server->Video().pictures;

    Player p;
    ASSERT_EQ(p.Load(recorder.Base() + "/clip.asm"), S_OK);
    p.Render();
    auto control = p.Control();
    ASSERT_TRUE(StartPlaying(p, p.video, 5));
    auto position = p.source.As<rtspstream::ISamplePosition>(rtspstream::IID_ISamplePosition);
    const size_t before = p.video.Snapshot().size();
    ASSERT_EQ(position->Restart(), S_OK);
    std::vector<std::string> expected = {"DESCRIBE", "SETUP", "PLAY", "TEARDOWN",
                                         "DESCRIBE", "SETUP", "PLAY"};
    EXPECT_EQ(recorder.Methods(), expected);
    EXPECT_EQ(recorder.Requests().back().range, "npt=0.000-4.000");
    OAFilterState state = State_Stopped;
    ASSERT_EQ(control->GetState(1000, &state), S_OK);
    EXPECT_EQ(state, State_Running);

    ASSERT_TRUE(p.video.WaitEnd(20s));
    std::vector<Seen> all = p.video.Snapshot();
    std::vector<Seen> again =
        SamplesOf(std::vector<Seen>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()));
    // The header went out once, at the first run: every picture follows.
    ASSERT_EQ(again.size(), pictures.size());
    ASSERT_FALSE(again[0].bytes.empty());
    for (size_t i = 0; i < again.size(); ++i) {
        if (again[i].bytes.empty()) continue;
        Bytes expected_bytes = PictureBytes(pictures[i]);
        ASSERT_EQ(again[i].bytes, expected_bytes) << "picture " << i;
        EXPECT_EQ(again[i].start, static_cast<int64_t>(i) * 400000) << i;
    }
    EXPECT_FALSE(again[0].sync);  // the first picture after a seek
    ASSERT_EQ(control->Stop(), S_OK);
}

// A description with audio only: one "Audio" pin; every frame
// plays byte for byte, and a seek while running sends PAUSE, then PLAY with the
// range, after which frames restart at the seek position, timed from it.
TEST(TallowmereGraph, AudioOnlyStreamPlaysAndSeeks) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("audio_only.mp3", 200);  // 5.2 s
    o.audio_only = true;
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    RequestRecorder recorder(s.server->Port());
    const auto& frames = s.server->Audio()->frames;
    const double frame_seconds = 1152.0 / 44100.0;

    Player p;
    ASSERT_EQ(p.Load(recorder.Base() + "/clip.asm"), S_OK);
    EXPECT_EQ(p.filter->video_pin(), nullptr);
    ASSERT_NE(p.filter->audio_pin(), nullptr);
    p.Render();
    ASSERT_FALSE(p.video_renderer);
    ASSERT_TRUE(p.audio_renderer);
    auto control = p.Control();
    ASSERT_TRUE(StartPlaying(p, p.audio, 10));

    auto seeking = p.Seeking();
    ASSERT_TRUE(seeking);
    LONGLONG start = 20000000, stop = 0;
    ASSERT_EQ(seeking->GetDuration(&stop), S_OK);
    ASSERT_GT(stop, start);
    const size_t before = p.audio.Snapshot().size();
    ASSERT_EQ(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_AbsolutePositioning),
              S_OK);
    const std::vector<std::string> expected = {"DESCRIBE", "SETUP", "PLAY", "PAUSE", "PLAY"};
    EXPECT_EQ(recorder.Methods(), expected);
    EXPECT_EQ(recorder.Requests().back().range.substr(0, 10), "npt=2.000-");
    EXPECT_EQ(p.filter->shared().base_time(), 20000000);

    ASSERT_TRUE(p.audio.WaitEnd(20s));
    std::vector<Seen> all = p.audio.Snapshot();
    std::vector<Seen> after(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    bool flushed = false;
    for (const Seen& e : after) flushed |= e.kind == Kind::kBeginFlush;
    EXPECT_TRUE(flushed);
    // The server restarts at the frame that holds 2 s.
    const auto first = static_cast<size_t>(2.0 / frame_seconds);
    std::vector<Seen> audio = SamplesOf(after);
    // Up to the range's end; nothing from before the seek.
    const auto end =
        static_cast<size_t>(std::ceil(static_cast<double>(stop) / 1e7 / frame_seconds));
    ASSERT_EQ(audio.size(), std::min(end, frames.size()) - first);
    for (size_t j = 0; j < audio.size(); ++j) {
        const size_t k = first + j;
        Bytes expected_bytes =
            ReadRange(o.audio_path, static_cast<long>(frames[k].offset), frames[k].length);
        ASSERT_EQ(audio[j].bytes, expected_bytes) << "audio frame " << k;
        EXPECT_NEAR(static_cast<double>(audio[j].start), (k * frame_seconds - 2.0) * 1e7, 200.0)
            << k;
    }
    ASSERT_EQ(control->Stop(), S_OK);
}

}  // namespace
