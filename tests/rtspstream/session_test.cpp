#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "rtspstream/rtsp_client_session.h"
#include "tests/rtsp/fake_server.h"
#include "tests/rtspstream/frame_collector.h"
#include "tests/rtspstream/test_media.h"
#include "tools/rtspserve/server.h"

namespace {

using namespace std::chrono_literals;
using rtspstream::RtspClientSession;
using rtspstreamtest::Frame;
using rtspstreamtest::FrameCollector;
using rtsptest::FakeServer;
using Bytes = std::vector<uint8_t>;

struct Served {
    std::unique_ptr<rtspserve::Server> server;
    std::string url;
};

Served Serve(rtspserve::ServerOptions options) {
    options.bind_address = "127.0.0.1";
    options.port = 0;
    options.verbose = false;
    if (options.video_path.empty()) options.video_path = rtspstreamtest::SampleAvs();
    std::string error;
    Served s;
    s.server = rtspserve::Server::Create(options, &error);
    EXPECT_TRUE(s.server) << error;
    if (!s.server) return s;
    s.server->Start();
    s.url = "rtsp://127.0.0.1:" + std::to_string(s.server->Port()) + "/sample.avs";
    return s;
}

rtsp::ClientConfig QuickConfig() {
    rtsp::ClientConfig c;
    c.reply_timeout = 3s;
    c.connect_timeout = 2s;
    return c;
}

TEST(SessionWithServer, EveryPictureAndAudioFrameByteForByte) {
    rtspserve::ServerOptions o;
    o.audio_path = rtspstreamtest::WriteMp3("session_a.mp3", 160);
    o.paced = false;
    o.max_payload = 1000;  // makes the server use all three packet forms
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    const auto& pictures = s.server->Video().pictures;
    const auto& audio = s.server->Audio()->frames;

    RtspClientSession session;
    session.SetClientConfig(QuickConfig());
    FrameCollector frames;
    frames.Attach(session);
    ASSERT_TRUE(session.Connect(s.url));
    EXPECT_EQ(session.Status(), rtspstream::kStatusOk);
    EXPECT_TRUE(session.Connected());
    EXPECT_TRUE(session.HasVideo());
    EXPECT_TRUE(session.HasAudio());
    EXPECT_DOUBLE_EQ(session.Duration(), 4.0);

    avs::AvsSequenceHeader header;
    ASSERT_TRUE(session.GetVideoHeader(header));
    const Bytes& sequence = s.server->Video().sequence_header;
    ASSERT_EQ(header.header_length, static_cast<int32_t>(3 + sequence.size()));
    EXPECT_EQ(Bytes(header.header_bytes, header.header_bytes + 3), (Bytes{0, 0, 1}));
    EXPECT_EQ(0, std::memcmp(header.header_bytes + 3, sequence.data(), sequence.size()));
    EXPECT_EQ(header.header_bytes[3], 0xB0);
    auto format = session.GetAudioFormat();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->w_format_tag, 0x50);
    EXPECT_EQ(format->n_samples_per_sec, 90000u);

    ASSERT_TRUE(session.Play());
    ASSERT_TRUE(frames.WaitFor(
        [&](const std::vector<Frame>& f) { return f.size() >= pictures.size() + audio.size(); },
        20s));
    ASSERT_TRUE(session.Teardown());
    EXPECT_FALSE(session.Connected());

    std::vector<Frame> video = frames.Of(true), sound = frames.Of(false);
    ASSERT_EQ(video.size(), pictures.size());
    ASSERT_EQ(sound.size(), audio.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        Bytes expected = rtspstreamtest::ReadRange(
            rtspstreamtest::SampleAvs(), static_cast<long>(pictures[i].offset), pictures[i].length);
        ASSERT_EQ(video[i].bytes, expected) << "picture " << i;
        EXPECT_EQ(video[i].time, static_cast<int64_t>(i) * 400000) << "picture " << i;
    }
    for (size_t j = 0; j < audio.size(); ++j) {
        Bytes expected = rtspstreamtest::ReadRange(o.audio_path, static_cast<long>(audio[j].offset),
                                                   audio[j].length);
        ASSERT_EQ(sound[j].bytes, expected) << "audio frame " << j;
        double seconds = j * 1152.0 / 44100.0;
        EXPECT_NEAR(static_cast<double>(sound[j].time), seconds * 1e7, 200.0)
            << "audio frame " << j;
    }
}

TEST(SessionWithServer, ConnectStatuses) {
    RtspClientSession session;
    session.SetClientConfig(QuickConfig());
    {
        rtspserve::ServerOptions o;
        o.faults.describe_404 = true;
        Served s = Serve(o);
        EXPECT_FALSE(session.Connect(s.url));
        EXPECT_EQ(session.Status(), rtspstream::kStatusDescribeFailed);
        EXPECT_EQ(session.DescribeStatus(), 404);
    }
    {
        rtspserve::ServerOptions o;
        o.faults.application_media = true;
        Served s = Serve(o);
        EXPECT_FALSE(session.Connect(s.url));
        EXPECT_EQ(session.Status(), rtspstream::kStatusBadDescription);
    }
    {
        rtspserve::ServerOptions o;
        o.faults.no_session_control = true;
        Served s = Serve(o);
        EXPECT_FALSE(session.Connect(s.url));
        EXPECT_EQ(session.Status(), rtspstream::kStatusNoSessionControl);
    }
    EXPECT_FALSE(session.Connect("rtsp://127.0.0.1:1/nobody"));
    EXPECT_EQ(session.Status(), rtspstream::kStatusNoClient);
    EXPECT_FALSE(session.Connect("not an address"));
    EXPECT_EQ(session.Status(), rtspstream::kStatusNoClient);
    EXPECT_FALSE(session.Play());
    EXPECT_EQ(session.Status(), rtspstream::kStatusPlayFailed);
    EXPECT_FALSE(session.Pause());
    EXPECT_EQ(session.Status(), rtspstream::kStatusPauseFailed);

    // An address far longer than 128 characters works, and a video-only stream.
    Served s = Serve({});
    ASSERT_TRUE(session.Connect(s.url + "/" + std::string(400, 'n')));
    EXPECT_TRUE(session.HasVideo());
    EXPECT_FALSE(session.HasAudio());
    EXPECT_FALSE(session.GetAudioFormat());
    EXPECT_TRUE(session.Teardown());
}

// What goes on the wire: one SETUP per media with the same transport, the
// Range of PlayRange on that PLAY only, aggregate requests on the session
// control address, channel 2 and 3 packets reaching the second index, and
// TEARDOWN from the destructor.
TEST(SessionWithScriptedServer, RequestsOnTheWire) {
    const std::string sdp =
        "v=0\r\ns=x\r\na=control:*\r\na=range:npt=0-60\r\n"
        "m=video 0 RTP/AVP 96\r\na=rtpmap:96 AVS1-P2/90000\r\na=fmtp:96 "
        "sprop-parameter-sets=sAAB\r\n"
        "a=control:/trackID=1\r\n"
        "m=audio 0 RTP/AVP 14\r\na=rtpmap:14 MPA/90000\r\na=control:trackID=2\r\n";
    std::vector<rtsp::Message> seen;
    FakeServer server([&](FakeServer& s) {
        auto describe = s.ReadRequest();
        ASSERT_TRUE(describe);
        s.Write(FakeServer::Reply(
            *describe, "Content-Base: rtsp://127.0.0.1:" + std::to_string(s.Port()) + "/base\r\n",
            sdp));
        for (int i = 0; i < 2; ++i) {
            auto setup = s.ReadRequest();
            ASSERT_TRUE(setup);
            s.Write(FakeServer::Reply(*setup, "Session: S1;timeout=60\r\n"));
        }
        for (int i = 0; i < 3; ++i) {  // PLAY with range, PAUSE, PLAY
            auto request = s.ReadRequest();
            ASSERT_TRUE(request);
            std::string packets;
            if (request->method == "PLAY") {
                Bytes video = {0x80, 0x80 | 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, 0xB3, 0x42};
                Bytes rtcp = {0x80, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0};
                packets = FakeServer::Interleaved(3, video) + FakeServer::Interleaved(1, rtcp);
            }
            s.Write(
                FakeServer::Reply(
                    *request, "Session: S1\r\nRTP-Info: url=x;seq=1\r\nRange: npt=5.05-60\r\n") +
                packets);
        }
        auto teardown = s.ReadRequest();
        ASSERT_TRUE(teardown);
        s.Write(FakeServer::Reply(*teardown));
        s.WaitForClose();
    });
    {
        RtspClientSession session;
        session.SetClientConfig(QuickConfig());
        FrameCollector frames;
        frames.Attach(session);
        ASSERT_TRUE(session.Connect(server.Url("/start")));
        EXPECT_EQ(session.Description()->media[0].control, server.Url("/base/trackID=1"));
        ASSERT_TRUE(session.PlayRange(5050, 60000));
        ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return !f.empty(); }, 3s));
        ASSERT_TRUE(session.Pause());
        ASSERT_TRUE(session.Play());
        ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return f.size() >= 2; }, 3s));
        EXPECT_EQ(frames.Frames()[0].bytes, (Bytes{0, 0, 1, 0xB3, 0x42}));
        EXPECT_EQ(frames.Frames().size(), 2u);  // the sender reports fell out
    }                                           // the destructor tears down
    std::vector<rtsp::Message> requests = server.Requests();
    ASSERT_EQ(requests.size(), 7u);
    const std::string base = server.Url("/base");
    EXPECT_EQ(requests[0].method, "DESCRIBE");
    EXPECT_EQ(requests[0].uri, server.Url("/start"));
    for (int i : {1, 2}) {
        EXPECT_EQ(requests[i].method, "SETUP");
        EXPECT_EQ(*requests[i].Header("Transport"), "RTP/AVP/TCP;interleaved=0-1");
    }
    EXPECT_EQ(requests[1].uri, base + "/trackID=1");
    EXPECT_EQ(requests[2].uri, base + "/trackID=2");
    EXPECT_EQ(*requests[2].Header("Session"), "S1");
    EXPECT_EQ(requests[3].method, "PLAY");
    EXPECT_EQ(requests[3].uri, base);
    EXPECT_EQ(*requests[3].Header("Range"), "npt=5.050-60.000");
    EXPECT_EQ(requests[4].method, "PAUSE");
    EXPECT_EQ(requests[5].method, "PLAY");
    EXPECT_FALSE(requests[5].Header("Range"));
    EXPECT_EQ(requests[6].method, "TEARDOWN");
    EXPECT_EQ(requests[6].uri, base);
}

TEST(SessionWithServer, PauseResumeAndSeekWhilePaced) {
    Served s = Serve({});
    RtspClientSession session;
    session.SetClientConfig(QuickConfig());
    FrameCollector frames;
    frames.Attach(session);
    ASSERT_TRUE(session.Connect(s.url));
    ASSERT_TRUE(session.Play());
    ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return f.size() >= 5; }, 5s));
    ASSERT_TRUE(session.Pause());
    size_t paused_at = frames.Count(true);
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(frames.Count(true), paused_at + 1);  // at most one picture in flight
    EXPECT_LT(frames.Count(true), 12u);            // 300 ms would be 7 more pictures

    frames.Clear();
    ASSERT_TRUE(session.PlayRange(2000, 4000));
    ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return !f.empty(); }, 5s));
    Frame first = frames.Frames()[0];
    // The server starts at the I picture at or before 2 s; the time line goes on.
    const auto& pictures = s.server->Video().pictures;
    size_t start = 50;
    while (start > 0 && !pictures[start].random_access) --start;
    EXPECT_EQ(first.time, static_cast<int64_t>(start) * 400000);
    EXPECT_EQ(first.bytes, rtspstreamtest::ReadRange(rtspstreamtest::SampleAvs(),
                                                     static_cast<long>(pictures[start].offset),
                                                     pictures[start].length));
    EXPECT_TRUE(session.Teardown());
}

TEST(SessionWithServer, ServerFaultsEndCleanlyAndQuickly) {
    RtspClientSession session;
    session.SetClientConfig(QuickConfig());
    FrameCollector frames;
    frames.Attach(session);
    {
        rtspserve::ServerOptions o;
        o.paced = false;
        o.faults.close_after_packets = 120;
        Served s = Serve(o);
        ASSERT_TRUE(session.Connect(s.url));
        ASSERT_TRUE(session.Play());
        std::this_thread::sleep_for(300ms);
        size_t got = frames.Count(true);
        EXPECT_GT(got, 0u);
        EXPECT_LT(got, 100u);
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(session.Teardown());
        EXPECT_EQ(session.Status(), rtspstream::kStatusTeardownFailed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        EXPECT_FALSE(session.Play());  // nothing hangs on the dead connection
    }
    {
        frames.Clear();
        rtspserve::ServerOptions o;
        o.paced = false;
        o.faults.garbage_every = 5;
        Served s = Serve(o);
        ASSERT_TRUE(session.Connect(s.url));
        ASSERT_TRUE(session.Play());
        // Garbage may spoil pictures it lands in, but the stream goes on to its end.
        EXPECT_TRUE(frames.WaitFor(
            [](const std::vector<Frame>& f) {
                return !f.empty() && f.back().video && f.back().time >= 99 * 400000;
            },
            10s));
        EXPECT_TRUE(session.Teardown());
    }
    {
        frames.Clear();
        rtspserve::ServerOptions o;
        o.paced = false;
        o.faults.wrap_timestamps = true;
        Served s = Serve(o);
        ASSERT_TRUE(session.Connect(s.url));
        ASSERT_TRUE(session.Play());
        ASSERT_TRUE(
            frames.WaitFor([](const std::vector<Frame>& f) { return f.size() >= 100; }, 10s));
        EXPECT_TRUE(session.Teardown());
        std::vector<Frame> video = frames.Of(true);
        for (size_t i = 1; i < video.size(); ++i) EXPECT_GT(video[i].time, video[i - 1].time) << i;
        EXPECT_GT(session.Timing().Video().offset, 0);
    }
}

// A frame callback that holds the receive thread (a full pin queue) keeps the
// TEARDOWN reply unread: the request gives up after the reply time-out, and
// closing the session waits for one callback at most, not for every packet read.
TEST(SessionWithServer, SlowFrameCallbackBoundsTeardownAndClose) {
    rtspserve::ServerOptions o;
    o.paced = false;
    Served s = Serve(o);
    FrameCollector frames;
    frames.SetDelay(100ms);
    auto session = std::make_unique<RtspClientSession>();
    rtsp::ClientConfig config = QuickConfig();
    config.reply_timeout = 1s;
    session->SetClientConfig(config);
    frames.Attach(*session);
    ASSERT_TRUE(session->Connect(s.url));
    ASSERT_TRUE(session->Play());
    ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return !f.empty(); }, 3s));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session->Teardown());
    EXPECT_EQ(session->Status(), rtspstream::kStatusTeardownFailed);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2s);
    start = std::chrono::steady_clock::now();
    session.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_LT(frames.Count(true), 50u);
}

TEST(SessionWithServer, RepeatedConnectPlayTeardownIsBounded) {
    rtspserve::ServerOptions o;
    o.audio_path = rtspstreamtest::WriteMp3("repeat_a.mp3", 50);
    o.paced = false;
    Served s = Serve(o);
    RtspClientSession session;
    session.SetClientConfig(QuickConfig());
    FrameCollector frames;
    frames.Attach(session);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        frames.Clear();
        ASSERT_TRUE(session.Connect(s.url)) << i;
        ASSERT_TRUE(session.Play()) << i;
        ASSERT_TRUE(frames.WaitFor([](const std::vector<Frame>& f) { return f.size() >= 3; }, 5s))
            << i;
        // Every connection starts its own time line at 0.
        EXPECT_EQ(frames.Frames()[0].time, 0) << i;
        ASSERT_TRUE(session.Teardown()) << i;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

}  // namespace
