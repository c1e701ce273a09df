// The server under hostile or careless clients: more connections than it serves,
// clients that go quiet, and PLAY ranges that are absurd or impossible.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/rtspstream/test_media.h"
#include "tests/tools/rtspserve/raw_client.h"
#include "tools/rtspserve/server.h"

namespace {

using namespace std::chrono_literals;
using rtspservetest::RawClient;
using Clock = std::chrono::steady_clock;

const std::string kGop12 =
    std::string(AVS_TEST_DATA_DIR) + "/rm52j_cif352x288_25fps_IBBP_gop12_100f.avs";

std::unique_ptr<rtspserve::Server> Serve(rtspserve::ServerOptions o) {
    o.bind_address = "127.0.0.1";
    o.port = 0;
    o.verbose = false;
    if (o.video_path.empty()) o.video_path = kGop12;
    std::string error;
    auto server = rtspserve::Server::Create(o, &error);
    EXPECT_TRUE(server) << error;
    if (server) server->Start();
    return server;
}

std::string Url(const rtspserve::Server& s) {
    return "rtsp://127.0.0.1:" + std::to_string(s.Port()) + "/x.avs";
}

int Status(const std::optional<rtsp::Message>& reply) {
    return reply ? reply->status_code : -1;
}

// SETUP of one track on a fresh connection; the reply's status.
int SetUpTrack(RawClient& c, const rtspserve::Server& s, int track) {
    std::string channels = track == 1 ? "0-1" : "2-3";
    return Status(c.Request("SETUP", Url(s) + "/trackID=" + std::to_string(track),
                            "Transport: RTP/AVP/TCP;unicast;interleaved=" + channels + "\r\n"));
}

std::optional<rtsp::Message> Play(RawClient& c, const rtspserve::Server& s,
                                  const std::string& range) {
    std::string headers = "Session: " + c.session + "\r\n";
    if (!range.empty()) headers += "Range: " + range + "\r\n";
    return c.Request("PLAY", Url(s), headers);
}

TEST(RtspserveLimits, ClientsBeyondTheLimitAreRefusedAndServedOnceThereIsRoom) {
    rtspserve::ServerOptions o;
    o.max_connections = 2;
    auto server = Serve(o);
    ASSERT_TRUE(server);
    RawClient a, b;
    ASSERT_TRUE(a.Connect(server->Port()));
    ASSERT_TRUE(b.Connect(server->Port()));
    EXPECT_EQ(Status(a.Request("OPTIONS", Url(*server))), 200);
    EXPECT_EQ(Status(b.Request("OPTIONS", Url(*server))), 200);

    // The third is told the server is busy, and the connection ends.
    RawClient c;
    ASSERT_TRUE(c.Connect(server->Port()));
    c.Send("OPTIONS", Url(*server));
    std::optional<rtsp::Message> busy = c.Reply();
    ASSERT_TRUE(busy) << "no answer beyond the limit";
    EXPECT_EQ(busy->status_code, 503);
    EXPECT_EQ(busy->reason, "Service Unavailable");
    EXPECT_TRUE(c.WaitClosed(2s));
    // The two it serves are untouched.
    EXPECT_EQ(Status(a.Request("OPTIONS", Url(*server))), 200);

    // When one leaves, a new client is served.
    a.Close();
    int status = -1;
    for (auto end = Clock::now() + 3s; status != 200 && Clock::now() < end;) {
        RawClient d;
        ASSERT_TRUE(d.Connect(server->Port()));
        status = Status(d.Request("OPTIONS", Url(*server)));
        if (status != 200) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(status, 200);
    EXPECT_EQ(Status(b.Request("OPTIONS", Url(*server))), 200);
}

TEST(RtspserveLimits, SilentConnectionsAreClosedButPlayingOnesAreNot) {
    rtspserve::ServerOptions o;
    o.idle_timeout = 600ms;
    auto server = Serve(o);
    ASSERT_TRUE(server);

    // Silent after one request: closed after the time-out, not before.
    RawClient quiet;
    ASSERT_TRUE(quiet.Connect(server->Port()));
    EXPECT_EQ(Status(quiet.Request("OPTIONS", Url(*server))), 200);
    auto start = Clock::now();
    EXPECT_TRUE(quiet.WaitClosed(3s)) << "a silent connection stayed open";
    EXPECT_GE(Clock::now() - start, 500ms);

    // A client that keeps talking is kept; the Session header tells it how often to.
    RawClient talking;
    ASSERT_TRUE(talking.Connect(server->Port()));
    ASSERT_EQ(SetUpTrack(talking, *server, 1), 200);
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(300ms);
        std::optional<rtsp::Message> r =
            talking.Request("GET_PARAMETER", Url(*server), "Session: " + talking.session + "\r\n");
        ASSERT_EQ(Status(r), 200) << "closed after " << i << " keep-alives";
        ASSERT_TRUE(r->Header("Session"));
        EXPECT_NE(r->Header("Session")->find(";timeout=1"), std::string::npos)
            << *r->Header("Session");
    }

    // Playing (paced, 1.5 s) without a word from the client is not silence; the time-out
    // counts again from the end of the stream.
    RawClient playing;
    ASSERT_TRUE(playing.Connect(server->Port()));
    ASSERT_EQ(SetUpTrack(playing, *server, 1), 200);
    ASSERT_EQ(Status(Play(playing, *server, "npt=0-1.5")), 200);
    start = Clock::now();
    EXPECT_TRUE(playing.WaitBye(5s));
    EXPECT_GE(Clock::now() - start, 1200ms);
    EXPECT_EQ(playing.Pictures(), 38u);
    EXPECT_TRUE(playing.WaitClosed(3s));
}

TEST(RtspserveLimits, AClientThatReadsNoAnswersIsNotReadEither) {
    auto server = Serve({});
    ASSERT_TRUE(server);
    avs::net::Socket fd =
        avs::net::ConnectTcp("127.0.0.1", server->Port(), std::chrono::seconds(2), nullptr);
    ASSERT_NE(fd, avs::net::kInvalidSocket);
    ASSERT_TRUE(avs::net::SetNonBlocking(fd));
    const std::string request = "OPTIONS " + Url(*server) + " RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    std::string burst;
    for (int i = 0; i < 1000; ++i) burst += request;
    // Requests as fast as they are taken, no answer read, until the sending stalls for
    // 0.5 s or 3 s pass. Answers that pile up without end let it run for the full 3 s.
    size_t sent = 0, offset = 0;
    auto start = Clock::now(), last = start;
    while (Clock::now() - start < 3s && Clock::now() - last < 500ms) {
        std::ptrdiff_t n = avs::net::Send(fd, burst.data() + offset, burst.size() - offset);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            offset = (offset + static_cast<size_t>(n)) % burst.size();
            last = Clock::now();
        } else {
            ASSERT_EQ(n, avs::net::kNoData);
            std::this_thread::sleep_for(5ms);
        }
    }
    EXPECT_LT(sent, 40u << 20) << "the server took requests without end";
    // Each whole request is answered once the client reads.
    size_t expected = sent / request.size(), answers = 0;
    std::string tail;
    char chunk[65536];
    for (auto end = Clock::now() + 20s; answers < expected && Clock::now() < end;) {
        if (avs::net::WaitReadable(fd, 200) <= 0) continue;
        std::ptrdiff_t n = avs::net::Receive(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        std::string text = tail + std::string(chunk, static_cast<size_t>(n));
        for (size_t at = 0; (at = text.find("\r\n\r\n", at)) != std::string::npos; at += 4)
            ++answers;
        tail = text.substr(text.size() >= 3 ? text.size() - 3 : 0);
    }
    EXPECT_EQ(answers, expected);
    avs::net::Close(fd);
}

TEST(RtspserveLimits, PlayRangesAreClampedToTheStreamOrRefused) {
    rtspserve::ServerOptions o;
    o.paced = false;
    auto server = Serve(o);
    ASSERT_TRUE(server);

    struct Case {
        const char* range;
        int status;
        const char* reply_range;  // for 200
        size_t pictures;          // for 200
    };
    // 100 pictures at 25 fps; a start falls back to the I picture at or before it (46 for
    // 2 s, 94 for 4 s).
    const Case cases[] = {
        {"npt=0-1e300", 200, "npt=0.000-4.000", 100},  // an end past the stream is its end
        {"npt=0-99999999999999999999999999999999999999", 200, "npt=0.000-4.000", 100},
        {"npt=2-3", 200, "npt=1.840-3.000", 29},
        {"npt=0:00:02-", 200, "npt=1.840-4.000", 54},
        {"npt=4-", 200, "npt=3.760-4.000", 6},  // the end itself: the last group
        {"npt=-3", 200, "npt=0.000-3.000", 75},
        {"npt=now-", 200, "npt=0.000-4.000", 100},
        {"npt=1e300-", 457, nullptr, 0},
        {"npt=4.01-", 457, nullptr, 0},
        {"npt=-1-2", 457, nullptr, 0},
        {"npt=0--2", 457, nullptr, 0},
        {"npt=nan-", 457, nullptr, 0},
        {"npt=0-nan", 457, nullptr, 0},
        {"npt=inf-", 457, nullptr, 0},
        {"npt=0-inf", 457, nullptr, 0},
        {"npt=0x10-", 457, nullptr, 0},
        {"npt=3-2", 457, nullptr, 0},
        {"npt=0:61:00-", 457, nullptr, 0},
        {"npt=abc", 457, nullptr, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.range);
        RawClient c;
        ASSERT_TRUE(c.Connect(server->Port()));
        ASSERT_EQ(SetUpTrack(c, *server, 1), 200);
        std::optional<rtsp::Message> reply = Play(c, *server, k.range);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status_code, k.status);
        if (k.status == 200) {
            ASSERT_TRUE(reply->Header("Range"));
            EXPECT_EQ(*reply->Header("Range"), k.reply_range);
            EXPECT_TRUE(c.WaitBye(5s));
            EXPECT_EQ(c.Pictures(), k.pictures);
        } else {
            // Nothing is sent, and the session can still play.
            EXPECT_FALSE(c.WaitBye(300ms));
            EXPECT_EQ(c.Packets(), 0u);
            EXPECT_EQ(Status(Play(c, *server, "")), 200);
            EXPECT_TRUE(c.WaitBye(5s));
            EXPECT_EQ(c.Pictures(), 100u);
        }
    }

    // The audio track's conversions too: 50 frames of 1152 samples at 44.1 kHz.
    rtspserve::ServerOptions a;
    a.paced = false;
    a.audio_only = true;
    a.audio_path = rtspstreamtest::WriteMp3("limits_a.mp3", 50);
    auto audio = Serve(a);
    ASSERT_TRUE(audio);
    for (const char* range : {"npt=0-1e300", "npt=1e300-", "npt=inf-"}) {
        SCOPED_TRACE(range);
        RawClient c;
        ASSERT_TRUE(c.Connect(audio->Port()));
        ASSERT_EQ(SetUpTrack(c, *audio, 2), 200);
        std::optional<rtsp::Message> reply = Play(c, *audio, range);
        ASSERT_TRUE(reply);
        if (std::string(range) == "npt=0-1e300") {
            EXPECT_EQ(reply->status_code, 200);
            EXPECT_TRUE(c.WaitBye(5s));
            EXPECT_EQ(c.Packets(), 50u);
        } else {
            EXPECT_EQ(reply->status_code, 457);
        }
    }
}

}  // namespace
