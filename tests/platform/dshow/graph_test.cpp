// The graph with a two-pin push source and capture renderers: delivery, completion,
// restarts, seeking through the graph while running, and random state changes.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <random>

#include "dshow/runtime.h"
#include "support/recorder.h"
#include "support/temp_registry.h"
#include "support/test_filters.h"

using avs::com::ComPtr;
using avs::dshow::CaptureEvent;
using avs::test::CTestPushSource;
using avs::test::Received;
using avs::test::Recorder;
using avs::test::StreamSpec;
using Kind = CaptureEvent::Kind;

namespace {

// Intelligent connection looks at the registered filters: keep the user's store out.
class IsolatedRegistry : public testing::Environment {
  public:
    void SetUp() override { registry_ = std::make_unique<avs::test::TempRegistry>(); }
    void TearDown() override { registry_.reset(); }

  private:
    std::unique_ptr<avs::test::TempRegistry> registry_;
};
const auto* const kIsolated = testing::AddGlobalTestEnvironment(new IsolatedRegistry);

struct Graph {
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    CTestPushSource* source = nullptr;  // owned by `filter`
    ComPtr<IBaseFilter> filter;
    Recorder rec[2];
    ComPtr<IBaseFilter> renderer[2];

    explicit Graph(const StreamSpec& a, const StreamSpec& b, bool clock = false) {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, builder.PutVoid()));
        control = builder.As<IMediaControl>(IID_IMediaControl);
        events = builder.As<IMediaEvent>(IID_IMediaEvent);
        seeking = builder.As<IMediaSeeking>(IID_IMediaSeeking);
        HRESULT hr = S_OK;
        source = new CTestPushSource(nullptr, &hr, a, b);
        EXPECT_EQ(S_OK, hr);
        filter = static_cast<IBaseFilter*>(source);
        EXPECT_EQ(S_OK, builder->AddFilter(filter.Get(), L"Source"));
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(S_OK,
                      avs::dshow::CreateCaptureRenderer(rec[i].Callback(), renderer[i].Put()));
            EXPECT_EQ(S_OK, builder->AddFilter(renderer[i].Get(),
                                               i == 0 ? L"Video renderer" : L"Audio renderer"));
        }
        auto pins = avs::dshow::FilterPins(filter.Get());
        EXPECT_EQ(2u, pins.size());
        for (int i = 0; i < 2; ++i) {
            auto in = avs::dshow::FirstPin(renderer[i].Get(), PINDIR_INPUT);
            EXPECT_EQ(S_OK, builder->Connect(pins[i].Get(), in.Get()));
        }
        if (!clock) {
            auto mf = builder.As<IMediaFilter>(IID_IMediaFilter);
            EXPECT_EQ(S_OK, mf->SetSyncSource(nullptr));
        }
    }
    ~Graph() {
        if (control) control->Stop();
    }
};

std::vector<Received> Samples(const std::vector<Received>& ev) {
    std::vector<Received> out;
    for (const auto& e : ev)
        if (e.kind == Kind::kSample) out.push_back(e);
    return out;
}

// Checks one full, unseeked run of `spec` as the renderer saw it.
void ExpectFullRun(const std::vector<Received>& ev, const StreamSpec& spec, BYTE tag) {
    ASSERT_GE(ev.size(), 2u);
    EXPECT_EQ(Kind::kNewSegment, ev.front().kind);
    EXPECT_EQ(0, ev.front().seg_start);
    EXPECT_EQ(spec.duration * spec.samples, ev.front().seg_stop);
    EXPECT_DOUBLE_EQ(1.0, ev.front().rate);
    EXPECT_EQ(Kind::kEndOfStream, ev.back().kind);
    auto s = Samples(ev);
    ASSERT_EQ(static_cast<size_t>(spec.samples), s.size());
    for (int i = 0; i < spec.samples; ++i) {
        EXPECT_EQ(i, s[i].index);
        EXPECT_EQ(tag, s[i].tag);
        EXPECT_EQ(spec.size, s[i].length);
        EXPECT_TRUE(s[i].has_time);
        EXPECT_EQ(i * spec.duration, s[i].start);
        EXPECT_EQ((i + 1) * spec.duration, s[i].stop);
        EXPECT_EQ(i % spec.sync_every == 0, s[i].sync) << i;
        EXPECT_EQ(i == 0, s[i].discontinuity) << i;
    }
}

}  // namespace

TEST(GraphTest, TwoPinsDeliverInOrderAndCompleteThenRunAgainAfterStop) {
    StreamSpec a, b;
    a.samples = 12;
    b.samples = 5;
    b.duration = 260000;
    b.sync_every = 1;
    b.size = 20;
    Graph g(a, b);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        g.rec[0].Clear();
        g.rec[1].Clear();
        ASSERT_EQ(S_OK, g.control->Run());
        LONG code = 0;
        ASSERT_EQ(S_OK, g.events->WaitForCompletion(5000, &code));
        EXPECT_EQ(EC_COMPLETE, code);
        ExpectFullRun(g.rec[0].Events(), a, 0xA0);
        ExpectFullRun(g.rec[1].Events(), b, 0xB0);
        LONG ev = 0;
        LONG_PTR p1 = 0, p2 = 0;
        ASSERT_EQ(S_OK, g.events->GetEvent(&ev, &p1, &p2, 0));
        EXPECT_EQ(EC_COMPLETE, ev);
        ASSERT_EQ(S_OK, g.control->Stop());
    }
    OAFilterState st = -1;
    g.control->GetState(0, &st);
    EXPECT_EQ(State_Stopped, st);
}

TEST(GraphTest, CompletionWaitsForEveryRendererAndTimesOutOnEndlessStream) {
    StreamSpec a, b;
    b.endless = true;
    b.fill_delay_us = 500;
    Graph g(a, b);
    ASSERT_EQ(S_OK, g.control->Run());
    // The first stream ends, the second never does: no completion.
    ASSERT_TRUE(g.rec[0].WaitFor([](const std::vector<Received>& ev) {
        return !ev.empty() && ev.back().kind == Kind::kEndOfStream;
    }));
    LONG code = 0;
    EXPECT_EQ(E_ABORT, g.events->WaitForCompletion(200, &code));
    EXPECT_EQ(0, code);
    ASSERT_EQ(S_OK, g.control->Stop());
    EXPECT_EQ(VFW_E_WRONG_STATE, g.events->WaitForCompletion(0, &code));
}

TEST(GraphTest, PausedGraphHoldsTheFirstSampleUntilRun) {
    StreamSpec a, b;
    Graph g(a, b);
    ASSERT_EQ(S_OK, g.control->Pause());
    ASSERT_TRUE(g.rec[0].WaitFor([](const std::vector<Received>& ev) { return !ev.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0u, Samples(g.rec[0].Events()).size());  // held, not rendered
    ASSERT_EQ(S_OK, g.control->Run());
    LONG code = 0;
    ASSERT_EQ(S_OK, g.events->WaitForCompletion(5000, &code));
    ExpectFullRun(g.rec[0].Events(), a, 0xA0);
}

TEST(GraphTest, ConnectionRulesAndNegotiation) {
    ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
    HRESULT hr = S_OK;
    auto* obj = static_cast<CTestPushSource*>(CTestPushSource::CreateInstance(nullptr, &hr));
    ComPtr<IBaseFilter> src(static_cast<IBaseFilter*>(obj));
    ASSERT_TRUE(src);
    ASSERT_EQ(S_OK, gb->AddFilter(src.Get(), L"Source"));
    // A second filter of the same name gets a unique one.
    ComPtr<IBaseFilter> picky, any;
    Recorder r;
    ASSERT_EQ(S_OK, avs::dshow::CreateCaptureRenderer(
                        r.Callback(), picky.Put(),
                        [](const AM_MEDIA_TYPE& mt) { return mt.majortype == MEDIATYPE_Audio; }));
    ASSERT_EQ(S_OK, avs::dshow::CreateCaptureRenderer(r.Callback(), any.Put()));
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, gb->AddFilter(picky.Get(), L"Source"));
    ASSERT_EQ(S_OK, gb->AddFilter(any.Get(), L"Any"));
    auto out = avs::dshow::FirstPin(src.Get(), PINDIR_OUTPUT);
    // The picky renderer refuses the test media type.
    EXPECT_TRUE(
        FAILED(gb->Connect(out.Get(), avs::dshow::FirstPin(picky.Get(), PINDIR_INPUT).Get())));
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectedTo(peer.Put()));
    // Wrong direction.
    auto anyIn = avs::dshow::FirstPin(any.Get(), PINDIR_INPUT);
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, gb->Connect(anyIn.Get(), out.Get()));
    ASSERT_EQ(S_OK, gb->Connect(out.Get(), anyIn.Get()));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(S_OK, anyIn->ConnectionMediaType(&mt));
    EXPECT_EQ(avs::test::MEDIATYPE_TestData, mt.majortype);
    FreeMediaType(mt);
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, gb->Connect(out.Get(), anyIn.Get()));
    // Removing a filter breaks its connections.
    ASSERT_EQ(S_OK, gb->RemoveFilter(any.Get()));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectedTo(peer.Put()));
}

TEST(GraphTest, SeekWhileRunningFlushesInOrderAndRestartsTheWorker) {
    StreamSpec a, b;
    a.samples = 400;
    a.duration = 100000;
    a.sync_every = 1;
    b = a;
    Graph g(a, b);
    g.rec[0].delay_us_ = 1000;  // keeps the streams running while we seek
    g.rec[1].delay_us_ = 1000;
    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(
        g.rec[0].WaitFor([](const std::vector<Received>& ev) { return Samples(ev).size() >= 10; }));

    DWORD caps = 0;
    ASSERT_EQ(S_OK, g.seeking->GetCapabilities(&caps));
    EXPECT_EQ(0x37u, caps);
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, g.seeking->GetDuration(&duration));
    EXPECT_EQ(400 * 100000, duration);

    LONGLONG target = 300 * 100000, stop = duration;
    ASSERT_EQ(S_OK, g.seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, &stop,
                                            AM_SEEKING_AbsolutePositioning));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(1, g.source->stream(i)->change_start_calls.load());
        EXPECT_FALSE(g.source->stream(i)->reposition_raced.load());
    }
    LONG code = 0;
    ASSERT_EQ(S_OK, g.events->WaitForCompletion(20000, &code));
    EXPECT_EQ(EC_COMPLETE, code);

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto ev = g.rec[i].Events();
        // Expected: ... samples, BeginFlush, EndFlush, NewSegment(target), samples 300.., EOS.
        size_t begin = ev.size(), end = ev.size();
        for (size_t k = 0; k < ev.size(); ++k) {
            if (ev[k].kind == Kind::kBeginFlush && begin == ev.size()) begin = k;
            if (ev[k].kind == Kind::kEndFlush) end = k;
        }
        ASSERT_LT(begin, end);
        for (size_t k = begin + 1; k < end; ++k) EXPECT_NE(Kind::kSample, ev[k].kind);
        ASSERT_LT(end + 1, ev.size());
        EXPECT_EQ(Kind::kNewSegment, ev[end + 1].kind);
        EXPECT_EQ(target, ev[end + 1].seg_start);
        std::vector<Received> after(ev.begin() + static_cast<long>(end) + 2, ev.end());
        auto s = Samples(after);
        ASSERT_EQ(100u, s.size());
        EXPECT_EQ(300, s.front().index);
        EXPECT_EQ(0, s.front().start);  // times restart from the new position
        EXPECT_TRUE(s.front().discontinuity);
        EXPECT_EQ(399, s.back().index);
        EXPECT_EQ(Kind::kEndOfStream, ev.back().kind);
        // Before the flush, samples came in order from the start.
        auto before =
            Samples(std::vector<Received>(ev.begin(), ev.begin() + static_cast<long>(begin)));
        for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(static_cast<int>(k), before[k].index);
    }
}

TEST(GraphTest, SeekWhileStoppedTakesEffectAtTheNextRun) {
    StreamSpec a, b;
    a.samples = 20;
    b = a;
    Graph g(a, b);
    LONGLONG target = 15 * a.duration;
    ASSERT_EQ(S_OK, g.seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    ASSERT_EQ(S_OK, g.control->Run());
    LONG code = 0;
    ASSERT_EQ(S_OK, g.events->WaitForCompletion(5000, &code));
    auto ev = g.rec[0].Events();
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(target, ev.front().seg_start);
    auto s = Samples(ev);
    ASSERT_EQ(5u, s.size());
    EXPECT_EQ(15, s.front().index);
}

class RandomStateChanges : public testing::TestWithParam<bool> {};

// 200 random Run/Pause/Stop/seek calls, without a clock and with one (where renderers
// wait for sample times and seeks re-base the stream time), bounded in time.
TEST_P(RandomStateChanges, DoNotDeadlock) {
    const bool clock = GetParam();
    StreamSpec a, b;
    a.samples = 300;
    a.duration = 100000;
    b = a;
    b.samples = 150;
    b.fill_delay_us = 200;
    Graph g(a, b, clock);
    g.rec[0].delay_us_ = 100;
    auto run = std::async(std::launch::async, [&] {
        std::mt19937 rng(clock ? 777 : 12345);
        for (int i = 0; i < 200; ++i) {
            switch (rng() % 5) {
                case 0:
                    EXPECT_EQ(S_OK, g.control->Run());
                    break;
                case 1:
                    EXPECT_EQ(S_OK, g.control->Pause());
                    break;
                case 2:
                    EXPECT_EQ(S_OK, g.control->Stop());
                    break;
                default: {
                    LONGLONG pos = static_cast<LONGLONG>(rng() % 300) * a.duration;
                    EXPECT_EQ(S_OK, g.seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning,
                                                            nullptr, 0));
                }
            }
            if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 5));
        }
        // The graph still works afterwards: a clean run from a known position completes.
        g.control->Stop();
        LONGLONG pos = 290 * a.duration;
        g.seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        g.rec[0].Clear();
        g.control->Run();
        LONG code = 0;
        EXPECT_EQ(S_OK, g.events->WaitForCompletion(10000, &code));
        g.control->Stop();
    });
    if (run.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        ADD_FAILURE() << "state changes deadlocked";
        std::_Exit(1);  // a hung worker cannot be recovered
    }
    run.get();
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(g.source->stream(i)->reposition_raced.load());
}

INSTANTIATE_TEST_SUITE_P(GraphTest, RandomStateChanges, testing::Values(false, true));

TEST(GraphTest, WithTheDefaultClockSamplesArePacedByTheirTimes) {
    StreamSpec a, b;
    a.samples = 10;
    a.duration = 200000;  // 20 ms each: 200 ms of media
    b = a;
    Graph g(a, b, /*clock=*/true);
    DWORD t0 = timeGetTime();
    ASSERT_EQ(S_OK, g.control->Run());
    LONG code = 0;
    ASSERT_EQ(S_OK, g.events->WaitForCompletion(5000, &code));
    DWORD elapsed = timeGetTime() - t0;
    EXPECT_GE(elapsed, 170u);  // the last sample starts at 180 ms
    EXPECT_LT(elapsed, 3000u);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, g.builder.As<IMediaFilter>(IID_IMediaFilter)->GetSyncSource(clock.Put()));
    EXPECT_TRUE(clock);
    ExpectFullRun(g.rec[0].Events(), a, 0xA0);
}

TEST(GraphTest, AddSourceFilterUsesTheReaderOrTheInstalledFactory) {
    ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(HRESULT_FILE_NOT_FOUND,
              gb->AddSourceFilter(L"/nonexistent/clip.avi", L"Source", f.Put()));
    std::string self = AVS_SOURCE_DIR "/README.md";
    ASSERT_EQ(S_OK, gb->AddSourceFilter(avs::com::Widen(self).c_str(), L"Source", f.Put()));
    CLSID id{};
    f->GetClassID(&id);
    EXPECT_EQ(CLSID_AsyncReader, id);
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(S_OK, gb->FindFilterByName(L"Source", found.Put()));
    EXPECT_EQ(f.Get(), found.Get());

    std::wstring asked;
    avs::dshow::SetSourceFilterFactory([&](LPCWSTR file, IBaseFilter** out) {
        asked = file;
        HRESULT hr = S_OK;
        auto* src = static_cast<CTestPushSource*>(CTestPushSource::CreateInstance(nullptr, &hr));
        *out = static_cast<IBaseFilter*>(src);
        (*out)->AddRef();
        return hr;
    });
    ComPtr<IBaseFilter> g;
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, gb->AddSourceFilter(L"any.wmv", L"Source", g.Put()));
    avs::dshow::SetSourceFilterFactory({});
    EXPECT_EQ(L"any.wmv", asked);
    ASSERT_TRUE(g);
    g->GetClassID(&id);
    EXPECT_EQ(avs::test::CLSID_TestPushSource, id);
    EXPECT_EQ(2u, avs::dshow::FilterPins(g.Get()).size());
}
