#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace net = avs::net;
using namespace std::chrono_literals;

// A listener on a free loopback port and one connection to it, accepted.
struct Pair {
    net::Socket listener = net::kInvalidSocket;
    net::Socket client = net::kInvalidSocket;
    net::Socket server = net::kInvalidSocket;
    uint16_t port = 0;

    Pair() {
        std::string error;
        listener = net::ListenTcp("127.0.0.1", 0, 4, &error);
        EXPECT_NE(listener, net::kInvalidSocket) << error;
        port = net::LocalPort(listener);
        EXPECT_NE(port, 0);
        client = net::ConnectTcp("127.0.0.1", port, 2000ms, &error);
        EXPECT_NE(client, net::kInvalidSocket) << error;
        EXPECT_EQ(net::WaitReadable(listener, 2000), 1);
        server = net::Accept(listener);
        EXPECT_NE(server, net::kInvalidSocket);
    }
    ~Pair() {
        net::Close(client);
        net::Close(server);
        net::Close(listener);
    }
};

// Receives exactly n bytes or fails.
std::vector<uint8_t> ReceiveExactly(net::Socket s, size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
        if (net::WaitReadable(s, 5000) != 1) break;
        std::ptrdiff_t r = net::Receive(s, out.data() + got, n - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

TEST(NetSocket, RoundTripBothWaysAndPeerCloseIsEnd) {
    Pair p;
    ASSERT_NE(p.server, net::kInvalidSocket);
    EXPECT_TRUE(net::SetNoDelay(p.client));
    // More than one socket buffer holds, so SendAll must loop and the reader must see
    // the bytes in order across many receives.
    std::vector<uint8_t> big(3 * 1024 * 1024);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    std::thread sender([&] { EXPECT_TRUE(net::SendAll(p.client, big.data(), big.size())); });
    std::vector<uint8_t> got = ReceiveExactly(p.server, big.size());
    sender.join();
    ASSERT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);

    const char reply[] = "RTSP/1.0 200 OK\r\n\r\n";
    ASSERT_TRUE(net::SendAll(p.server, reply, sizeof reply - 1));
    std::vector<uint8_t> back = ReceiveExactly(p.client, sizeof reply - 1);
    EXPECT_EQ(std::string(back.begin(), back.end()), reply);

    // The peer closes: the reader is woken and sees the end, not an error or a hang.
    net::Close(p.server);
    p.server = net::kInvalidSocket;
    ASSERT_EQ(net::WaitReadable(p.client, 2000), 1);
    uint8_t byte;
    EXPECT_EQ(net::Receive(p.client, &byte, 1), 0);
}

TEST(NetSocket, WaitsTimeOutAndShutdownEndsBothWays) {
    Pair p;
    ASSERT_NE(p.server, net::kInvalidSocket);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(net::WaitReadable(p.client, 150), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 2000ms);
    // Writable at once: the send buffer is empty.
    EXPECT_EQ(net::Wait(p.client, net::kReadable | net::kWritable, 1000), int(net::kWritable));

    // A receive time-out on a blocking socket reports "nothing", and the socket still works.
    ASSERT_TRUE(net::SetReceiveTimeout(p.client, 50ms));
    uint8_t byte = 0;
    EXPECT_EQ(net::Receive(p.client, &byte, 1), net::kNoData);
    ASSERT_TRUE(net::SendAll(p.server, "x", 1));
    EXPECT_EQ(ReceiveExactly(p.client, 1), std::vector<uint8_t>{'x'});

    // A non-blocking socket with nothing to read says so instead of blocking.
    ASSERT_TRUE(net::SetNonBlocking(p.server));
    EXPECT_EQ(net::Receive(p.server, &byte, 1), net::kNoData);

    // Shutdown tells the peer at once that nothing more will come (how a closing client
    // ends its session), though the socket itself stays open.
    net::Shutdown(p.client);
    ASSERT_EQ(net::WaitReadable(p.server, 2000), 1);
    EXPECT_EQ(net::Receive(p.server, &byte, 1), 0);
}

TEST(NetSocket, RefusedAndUnresolvableConnectionsSayWhy) {
    // A free port nobody listens on any more.
    net::Socket probe = net::ListenTcp("127.0.0.1", 0, 1, nullptr);
    ASSERT_NE(probe, net::kInvalidSocket);
    uint16_t port = net::LocalPort(probe);
    net::Close(probe);
    std::string error;
    EXPECT_EQ(net::ConnectTcp("127.0.0.1", port, 2000ms, &error), net::kInvalidSocket);
    EXPECT_EQ(error,
              "cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");

    error.clear();
    EXPECT_EQ(net::ConnectTcp("no-such-host.invalid", 554, 2000ms, &error), net::kInvalidSocket);
    EXPECT_EQ(error.rfind("cannot resolve no-such-host.invalid: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("cannot resolve no-such-host.invalid: ").size());

    // A port already taken cannot be listened on again, and the reason names it.
    net::Socket first = net::ListenTcp("127.0.0.1", 0, 1, nullptr);
    ASSERT_NE(first, net::kInvalidSocket);
    uint16_t taken = net::LocalPort(first);
    error.clear();
    EXPECT_EQ(net::ListenTcp("127.0.0.1", taken, 1, &error), net::kInvalidSocket);
    EXPECT_EQ(error,
              "cannot listen on 127.0.0.1:" + std::to_string(taken) + ": Address already in use");
    EXPECT_EQ(net::ListenTcp("localhost", 0, 1, &error), net::kInvalidSocket);
    EXPECT_EQ(error, "not an IPv4 address: localhost");
    net::Close(first);
}

TEST(NetSocket, DatagramsReachTheSenderBackAndLongOnesAreCut) {
    constexpr uint32_t kLoopback = 0x7F000001;
    net::Socket a = net::OpenUdp(kLoopback, 0);
    net::Socket b = net::OpenUdp(kLoopback, 0);
    ASSERT_NE(a, net::kInvalidSocket) << net::LastErrorText();
    ASSERT_NE(b, net::kInvalidSocket) << net::LastErrorText();
    ASSERT_TRUE(net::SetReceiveTimeout(a, 1000ms));
    ASSERT_TRUE(net::SetReceiveTimeout(b, 1000ms));
    net::Endpoint to{kLoopback, net::LocalPort(a)};
    // Longer than the receiver's buffer: cut to the buffer, as a status query of more
    // than two bytes is.
    const uint8_t query[5] = {3, 7, 1, 2, 3};
    ASSERT_TRUE(net::SendTo(b, query, sizeof query, to));
    uint8_t got[2] = {0, 0};
    net::Endpoint from;
    ASSERT_EQ(net::ReceiveFrom(a, got, sizeof got, &from), 2);
    EXPECT_EQ(got[0], 3);
    EXPECT_EQ(got[1], 7);
    EXPECT_EQ(from.address, kLoopback);
    EXPECT_EQ(from.port, net::LocalPort(b));
    // The socket keeps working after the cut datagram: answer the sender.
    ASSERT_TRUE(net::SendTo(a, got, 2, from));
    uint8_t answer[4] = {};
    EXPECT_EQ(net::ReceiveFrom(b, answer, sizeof answer, nullptr), 2);
    EXPECT_EQ(answer[1], 7);

    // Nothing more: the receive time-out passes and says so.
    ASSERT_TRUE(net::SetReceiveTimeout(a, 20ms));
    EXPECT_EQ(net::ReceiveFrom(a, got, sizeof got, &from), net::kNoData);
    // A reply to a sender that has gone does not break the next receive.
    net::Close(b);
    ASSERT_TRUE(net::SendTo(a, got, 2, from));
    EXPECT_EQ(net::ReceiveFrom(a, got, sizeof got, &from), net::kNoData);

    // The port is taken now.
    EXPECT_EQ(net::OpenUdp(kLoopback, to.port), net::kInvalidSocket);
    EXPECT_FALSE(net::LastErrorText().empty());
    net::Close(a);
}

}  // namespace
