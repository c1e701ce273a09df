#include "rtsp/client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "tests/rtsp/fake_server.h"

namespace {

using namespace std::chrono_literals;
using rtsptest::FakeServer;

struct Received {
    std::mutex mutex;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> packets;
    static void Callback(void* user, uint8_t channel, const uint8_t* packet, size_t length) {
        auto* self = static_cast<Received*>(user);
        std::lock_guard lock(self->mutex);
        self->packets.emplace_back(channel, std::vector<uint8_t>(packet, packet + length));
    }
    size_t Size() {
        std::lock_guard lock(mutex);
        return packets.size();
    }
};

rtsp::ClientConfig ShortTimeouts() {
    rtsp::ClientConfig c;
    c.reply_timeout = 1500ms;
    c.connect_timeout = 1500ms;
    return c;
}

// A whole session with a server that splits replies across writes, sends
// interleaved packets before and between replies, keeps its own manners
// (Content-Base, Session with ;timeout=, RTP-Info and Range) and packets on
// channels nobody registered.
TEST(RtspClient, SessionWithSplitRepliesAndInterleavedPackets) {
    FakeServer server([](FakeServer& s) {
        auto describe = s.ReadRequest();
        ASSERT_TRUE(describe);
        EXPECT_EQ(describe->method, "DESCRIBE");
        EXPECT_EQ(*describe->Header("Accept"), "application/sdp");
        EXPECT_TRUE(describe->Header("User-Agent"));
        std::string reply =
            FakeServer::Reply(*describe, "Content-Base: rtsp://base/x\r\n", "v=0\r\n");
        // One byte at a time, with a packet on channel 0 in front.
        s.Write(FakeServer::Interleaved(0, {1, 2, 3}));
        for (char c : reply) {
            s.Write(std::string(1, c));
            std::this_thread::sleep_for(200us);
        }
        auto setup = s.ReadRequest();
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->uri, "rtsp://base/x/trackID=1");
        EXPECT_EQ(*setup->Header("Transport"), "RTP/AVP/TCP;interleaved=0-1");
        EXPECT_FALSE(setup->Header("Session"));
        reply = FakeServer::Reply(
            *setup, "Session: ABC123 ;timeout=60\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n");
        s.Write(FakeServer::Interleaved(9, {9}));  // nobody asked for channel 9
        s.Write(reply.substr(0, 10));
        std::this_thread::sleep_for(20ms);
        s.Write(reply.substr(10));
        auto setup2 = s.ReadRequest();
        ASSERT_TRUE(setup2);
        EXPECT_EQ(*setup2->Header("Session"), "ABC123");
        s.Write(FakeServer::Reply(*setup2, "Session: ABC123;timeout=60\r\n"));
        auto play = s.ReadRequest();
        ASSERT_TRUE(play);
        EXPECT_EQ(play->method, "PLAY");
        EXPECT_EQ(*play->Header("Range"), "npt=5.050-60.000");
        EXPECT_EQ(*play->Header("Session"), "ABC123");
        s.Write(FakeServer::Interleaved(2, {0xA}) + FakeServer::Interleaved(3, {0xB}) +
                FakeServer::Reply(
                    *play,
                    "Range: npt=5.050-60.000\r\nRTP-Info: "
                    "url=rtsp://base/x/trackID=1;seq=1;rtptime=5\r\nSession: ABC123\r\n") +
                FakeServer::Interleaved(1, {0xC}));
        auto teardown = s.ReadRequest();
        ASSERT_TRUE(teardown);
        EXPECT_EQ(teardown->method, "TEARDOWN");
        s.Write(FakeServer::Reply(*teardown));
        s.WaitForClose();
    });

    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    Received index0, index1;
    ASSERT_EQ(client->RegisterRtpCallback(&Received::Callback, nullptr, 0, &index0),
              rtsp::ClientError::kOk);
    ASSERT_EQ(client->RegisterRtpCallback(&Received::Callback, nullptr, 1, &index1),
              rtsp::ClientError::kOk);
    EXPECT_EQ(client->RegisterRtpCallback(&Received::Callback, nullptr, 128, &index1),
              rtsp::ClientError::kArgument);

    rtsp::RequestOptions options;
    options.accept = "application/sdp";
    std::unique_ptr<rtsp::Reply> reply;
    ASSERT_EQ(client->Describe(options, &reply), rtsp::ClientError::kOk);
    EXPECT_EQ(reply->body, "v=0\r\n");
    EXPECT_EQ(reply->content_base, "rtsp://base/x");

    options = {};
    options.transport = "RTP/AVP/TCP;interleaved=0-1";
    std::unique_ptr<rtsp::SetupHandle> handle;
    ASSERT_EQ(client->Setup("rtsp://base/x/trackID=1", options, true, &handle, &reply),
              rtsp::ClientError::kOk);
    EXPECT_EQ(handle->session_id, "ABC123");
    EXPECT_EQ(handle->transport, "RTP/AVP/TCP;interleaved=0-1");
    ASSERT_EQ(client->Setup("rtsp://base/x/trackID=2", options, true, &handle, nullptr),
              rtsp::ClientError::kOk);

    options = {};
    options.range = "npt=5.050-60.000";
    ASSERT_EQ(client->Play("rtsp://base/x", options, &reply), rtsp::ClientError::kOk);
    EXPECT_EQ(*reply->message.Header("RTP-Info"), "url=rtsp://base/x/trackID=1;seq=1;rtptime=5");
    ASSERT_EQ(client->Teardown("rtsp://base/x", {}, nullptr), rtsp::ClientError::kOk);
    EXPECT_EQ(client->SessionId(), "");
    client.reset();  // closes, joins

    // Channels 0 and 1 reach index 0, 2 and 3 reach index 1, 9 nobody.
    ASSERT_EQ(index0.packets.size(), 2u);
    EXPECT_EQ(index0.packets[0], (std::pair<uint8_t, std::vector<uint8_t>>{0, {1, 2, 3}}));
    EXPECT_EQ(index0.packets[1].first, 1);
    ASSERT_EQ(index1.packets.size(), 2u);
    EXPECT_EQ(index1.packets[0].first, 2);
    EXPECT_EQ(index1.packets[1].first, 3);
    EXPECT_EQ(index1.packets[1].second, std::vector<uint8_t>{0xB});
}

TEST(RtspClient, FailedStatusKeepsTheReplyAndStaleRepliesAreIgnored) {
    FakeServer server([](FakeServer& s) {
        auto describe = s.ReadRequest();
        ASSERT_TRUE(describe);
        // A reply to an old request first, then the real one, then a server request.
        s.Write("RTSP/1.0 200 OK\r\nCSeq: 999\r\n\r\n");
        s.Write(FakeServer::Reply(*describe, "", "", 404));
        s.Write("OPTIONS * RTSP/1.0\r\nCSeq: 77\r\n\r\n");
        // The client answers the server's request.
        auto answer_probe = s.WaitForClose(300);
        (void)answer_probe;
    });
    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    std::unique_ptr<rtsp::Reply> reply;
    EXPECT_EQ(client->Describe({}, &reply), rtsp::ClientError::kStatus);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status_code, 404);
}

TEST(RtspClient, ServerRequestIsAnswered501) {
    FakeServer server([](FakeServer& s) {
        s.Write("GET_PARAMETER rtsp://x RTSP/1.0\r\nCSeq: 77\r\n\r\n");
        auto answer = s.ReadRequest(2000);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->is_reply);
        EXPECT_EQ(answer->status_code, 501);
        EXPECT_EQ(answer->CSeq(), 77u);
        auto describe = s.ReadRequest(2000);
        ASSERT_TRUE(describe);
        EXPECT_EQ(describe->method, "DESCRIBE");
        s.Write(FakeServer::Reply(*describe, "Content-Location: rtsp://h/loc/\r\n", "v=0\n"));
        s.WaitForClose(3000);
    });
    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    std::this_thread::sleep_for(200ms);
    std::unique_ptr<rtsp::Reply> reply;
    EXPECT_EQ(client->Describe({}, &reply), rtsp::ClientError::kOk);
    EXPECT_EQ(reply->content_base, "rtsp://h/loc/");  // without Content-Base, Content-Location
}

TEST(RtspClient, ServerThatClosesFailsPendingAndLaterRequestsAtOnce) {
    FakeServer server([](FakeServer& s) {
        auto request = s.ReadRequest();
        ASSERT_TRUE(request);
        s.Write("RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 100\r\n\r\nonly part");
        s.Close();
    });
    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<rtsp::Reply> reply;
    EXPECT_EQ(client->Describe({}, &reply), rtsp::ClientError::kClosed);
    EXPECT_FALSE(reply);
    EXPECT_EQ(client->Play("rtsp://x", {}, nullptr), rtsp::ClientError::kClosed);
    EXPECT_FALSE(client->IsOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // not the reply time-out
}

// The owner hears once that the server closed the connection (its stream is
// over), and nothing when it closes the client itself.
TEST(RtspClient, ClosedCallbackOnlyWhenTheServerEnds) {
    std::atomic<int> closed{0};
    rtsp::ClientConfig config = ShortTimeouts();
    config.on_closed = [](void* user) { ++*static_cast<std::atomic<int>*>(user); };
    config.on_closed_user = &closed;
    {
        FakeServer server([](FakeServer& s) {
            auto request = s.ReadRequest();
            ASSERT_TRUE(request);
            s.Write(FakeServer::Reply(*request) + FakeServer::Interleaved(0, {1, 2}));
        });  // the script ends: the server closes
        auto client = rtsp::Client::Create(server.Url(), config);
        ASSERT_TRUE(client);
        EXPECT_EQ(client->Describe({}, nullptr), rtsp::ClientError::kOk);
        for (int i = 0; i < 100 && closed == 0; ++i) std::this_thread::sleep_for(10ms);
        EXPECT_EQ(closed, 1);
        EXPECT_FALSE(client->IsOpen());
    }
    EXPECT_EQ(closed, 1);
    {
        FakeServer server([](FakeServer& s) { s.WaitForClose(3000); });
        auto client = rtsp::Client::Create(server.Url(), config);
        ASSERT_TRUE(client);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(closed, 1);
}

TEST(RtspClient, SilentServerTimesOutAndGarbageClosesTheConnection) {
    FakeServer silent([](FakeServer& s) { s.WaitForClose(5000); });
    auto client = rtsp::Client::Create(silent.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client->Describe({}, nullptr), rtsp::ClientError::kTimeout);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 3s);
    client.reset();

    FakeServer garbage([](FakeServer& s) {
        s.ReadRequest();
        s.Write(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));
        s.WaitForClose(5000);
    });
    client = rtsp::Client::Create(garbage.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    EXPECT_EQ(client->Describe({}, nullptr), rtsp::ClientError::kClosed);
}

TEST(RtspClient, KeepsTheSessionAliveWithinItsTimeout) {
    FakeServer server([](FakeServer& s) {
        auto setup = s.ReadRequest();
        ASSERT_TRUE(setup);
        s.Write(FakeServer::Reply(*setup, "Session: K1;timeout=2\r\n"));
        auto keepalive = s.ReadRequest(3000);  // due after about one second
        ASSERT_TRUE(keepalive);
        EXPECT_EQ(keepalive->method, "OPTIONS");
        EXPECT_EQ(*keepalive->Header("Session"), "K1");
        s.Write(FakeServer::Reply(*keepalive));
        s.WaitForClose(5000);
    });
    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    ASSERT_EQ(client->Setup(server.Url() + "/t", {}, false, nullptr, nullptr),
              rtsp::ClientError::kOk);
    std::this_thread::sleep_for(1600ms);
    client.reset();
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(RtspClient, UnusableAddressesAndRefusedConnections) {
    std::string error;
    EXPECT_FALSE(rtsp::Client::Create("http://127.0.0.1/", {}, &error));
    EXPECT_NE(error.find("rtsp://"), std::string::npos);
    // A port nobody listens on: take a free one and close it again.
    avs::net::Socket probe = avs::net::ListenTcp("127.0.0.1", 0, 1, nullptr);
    ASSERT_NE(probe, avs::net::kInvalidSocket);
    uint16_t port = avs::net::LocalPort(probe);
    avs::net::Close(probe);  // closed: connections are refused
    error.clear();
    EXPECT_FALSE(rtsp::Client::Create("rtsp://127.0.0.1:" + std::to_string(port) + "/x",
                                      ShortTimeouts(), &error));
    EXPECT_FALSE(error.empty());
    FakeServer server([](FakeServer& s) { s.WaitForClose(3000); });
    auto client = rtsp::Client::Create(server.Url(), ShortTimeouts());
    ASSERT_TRUE(client);
    EXPECT_EQ(client->Play("rtsp://x/\r\nEvil: 1", {}, nullptr), rtsp::ClientError::kArgument);
    EXPECT_EQ(client->Play("", {}, nullptr), rtsp::ClientError::kArgument);
}

}  // namespace
