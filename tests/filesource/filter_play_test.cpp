// CBranwickSource playing through a graph: what each stream delivers, in which
// order and with which times and marks; skipping unreadable samples; seeking;
// and two filters in one process keeping their own state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "filesource/branwick_stream.h"
#include "filter_harness.h"

namespace filesource::test {
namespace {

using avs::dshow::CaptureEvent;
using Kind = CaptureEvent::Kind;
using testing_mp4::Bytes;
using testing_mp4::MovieSpec;

constexpr int64_t kFrame = 400000;  // 25 frames per second

std::vector<std::vector<Bytes>> clip(int pictures, int gop, uint32_t seed = 11) {
    avs::synthetic::SequenceFields f;
    return group_pictures(split_units(avs::synthetic::Stream(f, pictures, 2, 30, gop, seed)));
}

MovieSpec movie(std::vector<testing_mp4::TrackSpec> tracks, uint64_t duration_ms) {
    MovieSpec m;
    m.duration = duration_ms;
    m.tracks = std::move(tracks);
    return m;
}

int64_t audio_time(int64_t n, uint32_t rate) {
    return static_cast<int64_t>(double(n * 1152) / rate * 1e7);
}

int64_t trunc_ratio(int64_t a, int64_t b, int64_t limit) {
    return static_cast<int64_t>(double(a) / double(b) * double(limit));
}

TEST(BranwickPlay, EverySampleInOrderWithHeaderFirstAndAgainAfterStop) {
    const auto pics = clip(23, 6);
    auto audio = audio_track(2, 30, 44100);  // no stss: every sample is a sync sample
    TempFile f(testing_mp4::BuildMovie(movie({video_track(pics), audio}, 920)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        g.video().clear();
        g.audio().clear();
        ASSERT_TRUE(g.RunToEnd());
        const auto v = g.video().samples();
        ASSERT_EQ(v.size(), pics.size() + 1);
        // The header sample: the sequence header unit, at 0, no marks.
        EXPECT_EQ(v[0].data, pics[0][0]);
        EXPECT_TRUE(v[0].has_time);
        EXPECT_EQ(0, v[0].start);
        EXPECT_EQ(0, v[0].stop);
        EXPECT_FALSE(v[0].sync);
        EXPECT_FALSE(v[0].discontinuity);
        for (size_t i = 0; i < pics.size(); ++i) {
            const Seen& s = v[i + 1];
            EXPECT_EQ(s.data, es_sample(pics[i])) << i;
            EXPECT_EQ(int64_t(i) * kFrame, s.start) << i;
            EXPECT_EQ(int64_t(i + 1) * kFrame, s.stop) << i;
            EXPECT_TRUE(s.sync) << i;
            EXPECT_EQ(i == 0, s.discontinuity) << i;
        }
        // New segments: the seeking values first, then the open one before sample 1.
        const auto ve = g.video().events();
        ASSERT_GE(ve.size(), 3u);
        EXPECT_EQ(Kind::kNewSegment, ve[0].kind);
        EXPECT_EQ(0, ve[0].segment_start);
        EXPECT_EQ(9200000, ve[0].segment_stop);
        EXPECT_EQ(Kind::kSample, ve[1].kind);
        EXPECT_EQ(Kind::kNewSegment, ve[2].kind);
        EXPECT_EQ(0x7F00000000000000LL, ve[2].segment_stop);
        EXPECT_EQ(Kind::kEndOfStream, ve.back().kind);
        EXPECT_EQ(1, g.video().count(Kind::kEndOfStream));

        const auto a = g.audio().samples();
        ASSERT_EQ(a.size(), audio.samples.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].data, audio.samples[i]) << i;
            EXPECT_EQ(audio_time(i, 44100), a[i].start) << i;
            EXPECT_EQ(i == 0, a[i].discontinuity) << i;
            EXPECT_TRUE(a[i].sync);
        }
        EXPECT_EQ(1, g.audio().count(Kind::kEndOfStream));
        LONGLONG current = 0, total = 0;
        g.filter()->GetSamplePosition(&current, &total);
        EXPECT_EQ(24, current);
        EXPECT_EQ(23, total);
        g.Stop();  // rewinds both streams
        g.filter()->GetSamplePosition(&current, &total);
        EXPECT_EQ(1, current);
    }
}

TEST(BranwickPlay, AudioStartsAtItsFirstSyncSampleAndShortTracksPlayWhole) {
    // One picture and two audio frames: both still delivered in full.
    const auto one = clip(1, 0);
    auto audio = audio_track(2, 6, 32000, std::vector<uint32_t>{3, 5});
    TempFile f(testing_mp4::BuildMovie(movie({video_track(one), audio}, 216)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    ASSERT_TRUE(g.RunToEnd());
    const auto v = g.video().samples();
    ASSERT_EQ(2u, v.size());
    EXPECT_EQ(v[1].data, es_sample(one[0]));

    // Samples before the first sync sample go out empty and without times.
    const auto a = g.audio().samples();
    ASSERT_EQ(6u, a.size());
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(a[i].data.empty());
        EXPECT_FALSE(a[i].has_time);
        EXPECT_FALSE(a[i].discontinuity);
    }
    EXPECT_EQ(a[2].data, audio.samples[2]);
    EXPECT_TRUE(a[2].discontinuity);
    EXPECT_TRUE(a[2].sync);
    EXPECT_EQ(audio_time(2, 32000), a[2].start);
    EXPECT_FALSE(a[3].sync);
    EXPECT_TRUE(a[4].sync);
    EXPECT_EQ(a[5].data, audio.samples[5]);
    // The open new segment comes right before the first sync sample.
    const auto ae = g.audio().events();
    int segments = 0;
    for (auto& e : ae) segments += e.kind == Kind::kNewSegment;
    EXPECT_EQ(2, segments);
}

TEST(BranwickPlay, UnreadableSamplesGoOutEmptyOnceAndTheStreamEnds) {
    const auto pics = clip(8, 4);
    auto video = video_track(pics);
    // Sample 3: the last unit's length runs past the sample; sample 6: L = 0.
    testing_mp4::Put32(video.samples[2], 50);
    video.samples[2].push_back(0);
    video.samples[5].insert(video.samples[5].begin(), {0, 0, 0, 0});
    TempFile f(testing_mp4::BuildMovie(movie({video}, 320)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    ASSERT_TRUE(g.RunToEnd());
    const auto v = g.video().samples();
    ASSERT_EQ(9u, v.size());
    for (size_t i = 0; i < pics.size(); ++i) {
        const Seen& s = v[i + 1];
        if (i == 2 || i == 5) {
            EXPECT_TRUE(s.data.empty()) << i;
            EXPECT_EQ(0, s.start);
            EXPECT_EQ(0, s.stop);
        } else {
            EXPECT_EQ(s.data, es_sample(pics[i])) << i;
            EXPECT_EQ(int64_t(i) * kFrame, s.start);
        }
    }
    EXPECT_EQ(1, g.video().count(Kind::kEndOfStream));
}

TEST(BranwickPlay, ARunOfUnreadableSamplesEndsTheStream) {
    // Video: pictures 3 to 40 hold a unit with L = 0; audio: chunks 3 to 10 (of
    // four frames each) start at the file's end, so frames 9 to 40 lie past it.
    const auto pics = clip(40, 4);
    auto video = video_track(pics);
    for (size_t i = 2; i < video.samples.size(); ++i)
        video.samples[i].insert(video.samples[i].begin(), {0, 0, 0, 0});
    auto audio = audio_track(2, 40, 44100);
    audio.samples_per_chunk = 4;
    Bytes file = testing_mp4::BuildMovie(movie({video, audio}, 1600));
    const Bytes tag{'s', 't', 'c', 'o'};
    // The audio track's table is the second 'stco'.
    auto it = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(it, file.end());
    it = std::search(it + 1, file.end(), tag.begin(), tag.end());
    ASSERT_NE(it, file.end());
    it += 4 + 4 + 4 + 2 * 4;  // the type, version and flags, entry count, chunks 1 and 2
    for (int chunk = 3; chunk <= 10; ++chunk, it += 4) {
        Bytes end;
        testing_mp4::Put32(end, static_cast<uint32_t>(file.size()));
        std::copy(end.begin(), end.end(), it);
    }
    TempFile f(file);
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    ASSERT_TRUE(g.RunToEnd());
    // The readable samples, then one empty sample for each unreadable one but
    // the last of the run, which ends the stream instead.
    const int empties = CBranwickStream::kUnreadableRunLimit - 1;
    const auto v = g.video().samples();
    ASSERT_EQ(size_t(1 + 2 + empties), v.size());
    EXPECT_EQ(v[2].data, es_sample(pics[1]));
    for (size_t i = 3; i < v.size(); ++i) EXPECT_TRUE(v[i].data.empty()) << i;
    EXPECT_EQ(1, g.video().count(Kind::kEndOfStream));
    const auto a = g.audio().samples();
    ASSERT_EQ(size_t(8 + empties), a.size());
    EXPECT_EQ(a[7].data, audio.samples[7]);
    for (size_t i = 8; i < a.size(); ++i) EXPECT_TRUE(a[i].data.empty()) << i;
    EXPECT_EQ(1, g.audio().count(Kind::kEndOfStream));
}

// 30 pictures with key frames at samples 1, 11 and 21; 40 audio frames.
struct SeekClip {
    std::vector<std::vector<Bytes>> pics = clip(30, 10);
    testing_mp4::TrackSpec audio = audio_track(2, 40, 44100);
    TempFile file{testing_mp4::BuildMovie(movie({video_track(pics), audio}, 1200))};
};

TEST(BranwickPlay, SeekLandsOnTheNextKeyFrameAndTheAudioFollows) {
    SeekClip c;
    FilterGraph g(c.file.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    const int64_t stop = 12000000;

    // Stopped: 0.5 s is sample 12, a B picture; the next key frame is sample 21.
    ASSERT_EQ(S_OK, g.Seek(5000000));
    ASSERT_TRUE(g.RunToEnd());
    auto v = g.video().samples();
    ASSERT_EQ(11u, v.size());
    EXPECT_EQ(v[0].data, c.pics[0][0]);  // the header sample again
    const int64_t offset = 20 * kFrame;
    for (size_t i = 1; i < v.size(); ++i) {
        EXPECT_EQ(v[i].data, es_sample(c.pics[19 + i])) << i;
        EXPECT_EQ(int64_t(19 + i) * kFrame - offset, v[i].start) << i;
    }
    EXPECT_TRUE(v[1].discontinuity);
    const int64_t target = trunc_ratio(offset, stop, 40);
    auto a = g.audio().samples();
    ASSERT_EQ(size_t(40 - target + 1), a.size());
    EXPECT_EQ(a[0].data, c.audio.samples[target - 1]);
    EXPECT_EQ(audio_time(target - 1, 44100) - offset, a[0].start);
    EXPECT_TRUE(a[0].discontinuity);
    EXPECT_EQ(a.back().data, c.audio.samples.back());

    // While running (the streams ended, the graph still runs): back to 0.
    g.video().clear();
    g.audio().clear();
    ASSERT_EQ(S_OK, g.Seek(0));
    LONG code = 0;
    auto event = avs::com::ComPtr<IGraphBuilder>(g.graph()).As<IMediaEvent>(IID_IMediaEvent);
    ASSERT_EQ(S_OK, event->WaitForCompletion(20000, &code));
    v = g.video().samples();
    ASSERT_EQ(31u, v.size());
    EXPECT_EQ(0, v[1].start);
    EXPECT_EQ(v[1].data, es_sample(c.pics[0]));
    EXPECT_EQ(1, g.video().count(Kind::kBeginFlush));
    EXPECT_EQ(1, g.video().count(Kind::kEndFlush));
    a = g.audio().samples();
    ASSERT_EQ(40u, a.size());  // target 0 is taken as sample 1
    EXPECT_EQ(0, a[0].start);
}

TEST(BranwickPlay, SeekIntoTrailingPredictedPicturesEndsBothStreams) {
    const auto pics = clip(30, 0);  // one I picture, then P and B to the end
    auto audio = audio_track(2, 40, 44100);
    TempFile f(testing_mp4::BuildMovie(movie({video_track(pics), audio}, 1200)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    ASSERT_EQ(S_OK, g.Seek(6000000));
    ASSERT_TRUE(g.RunToEnd());
    EXPECT_TRUE(g.video().samples().empty());
    EXPECT_TRUE(g.audio().samples().empty());
    EXPECT_EQ(1, g.video().count(Kind::kEndOfStream));
    EXPECT_EQ(1, g.audio().count(Kind::kEndOfStream));
}

TEST(BranwickPlay, AudioOnlySeekPastTheStopStartsAgainFromTheStart) {
    auto audio = audio_track(1, 20, 44100);
    TempFile f(testing_mp4::BuildMovie(movie({audio}, 523)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_TRUE(g.AttachRenderers());
    // Inside: sample trunc(0.2 / 0.523 * 20) = 7, times shifted by 0.2 s.
    ASSERT_EQ(S_OK, g.Seek(2000000));
    ASSERT_TRUE(g.RunToEnd());
    auto a = g.audio().samples();
    const int64_t k = trunc_ratio(2000000, 5230000, 20);
    ASSERT_EQ(size_t(20 - k + 1), a.size());
    EXPECT_EQ(a[0].data, audio.samples[k - 1]);
    EXPECT_EQ(audio_time(k - 1, 44100) - 2000000, a[0].start);

    // Past the stop: from sample 1 again, with the start as the offset.
    g.Stop();
    g.audio().clear();
    ASSERT_EQ(S_OK, g.Seek(9000000));
    ASSERT_TRUE(g.RunToEnd());
    a = g.audio().samples();
    ASSERT_EQ(20u, a.size());
    EXPECT_EQ(a[0].data, audio.samples[0]);
    EXPECT_EQ(-9000000, a[0].start);
}

TEST(BranwickPlay, TwoFiltersKeepTheirOwnNewSegmentState) {
    const auto pics = clip(6, 3);
    TempFile f(testing_mp4::BuildMovie(movie({video_track(pics), audio_track(2, 8, 44100)}, 240)));
    FilterGraph a(f.path()), b(f.path());
    for (FilterGraph* g : {&a, &b}) {
        ASSERT_EQ(S_OK, g->ConnectInput());
        ASSERT_TRUE(g->AttachRenderers());
    }
    auto control = [](FilterGraph& g) {
        return avs::com::ComPtr<IGraphBuilder>(g.graph()).As<IMediaControl>(IID_IMediaControl);
    };
    // Both become active before either delivers its first picture (a paused
    // renderer holds the header sample).
    ASSERT_EQ(S_OK, control(a)->Pause());
    ASSERT_EQ(S_OK, control(b)->Pause());
    ASSERT_TRUE(a.RunToEnd());
    ASSERT_TRUE(b.RunToEnd());
    for (FilterGraph* g : {&a, &b}) {
        for (Recorder* r : {&g->video(), &g->audio()}) {
            int marks = 0, segments = 0;
            for (auto& s : r->samples()) marks += s.discontinuity;
            segments = r->count(Kind::kNewSegment);
            EXPECT_EQ(1, marks);
            EXPECT_EQ(2, segments);
        }
    }
}

// Renderers may ask the source pin for its stop position on the streaming thread as the
// stream ends; a Stop on another thread holds the filter's lock while it waits for that
// thread, so the answer must not need the filter's lock.
TEST(BranwickPlay, StopWhileARendererAsksForTheStopPositionAtTheEnd) {
    using namespace std::chrono_literals;
    TempFile f(testing_mp4::BuildMovie(movie({video_track(clip(6, 3))}, 240)));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    avs::com::ComPtr<IPin> video;
    ASSERT_EQ(S_OK, g.filter()->FindPin(L"Video", video.Put()));
    auto seeking = video.As<IMediaSeeking>(IID_IMediaSeeking);
    ASSERT_TRUE(seeking);
    std::promise<void> at_end;
    std::atomic<bool> ended{false};
    std::atomic<HRESULT> asked{E_FAIL};
    ASSERT_TRUE(g.AttachRenderers([&](const std::wstring& pin, const CaptureEvent& e) {
        if (pin != L"Video" || e.kind != Kind::kEndOfStream || ended.exchange(true)) return;
        at_end.set_value();
        std::this_thread::sleep_for(200ms);  // the Stop below takes the filter lock meanwhile
        LONGLONG stop = 0;
        asked = seeking->GetStopPosition(&stop);
    }));
    auto control = avs::com::ComPtr<IGraphBuilder>(g.graph()).As<IMediaControl>(IID_IMediaControl);
    ASSERT_EQ(S_OK, control->Run());
    ASSERT_EQ(std::future_status::ready, at_end.get_future().wait_for(10s));
    auto stopped = std::async(std::launch::async, [&] { return g.filter()->Stop(); });
    if (stopped.wait_for(10s) != std::future_status::ready) {
        // Deadlocked: nothing can be cleaned up any more.
        std::fprintf(stderr, "Stop and the end-of-stream question wait for each other\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    EXPECT_EQ(S_OK, stopped.get());
    EXPECT_EQ(S_OK, asked.load());
    g.Stop();
}

}  // namespace
}  // namespace filesource::test
