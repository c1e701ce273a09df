#include "rtsp/message_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "rtsp/url.h"

namespace {

rtsp::ParseResult Parse(const std::string& s) {
    return rtsp::ParseNext(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(MessageParser, ReplyWithBodyIsWholeOnlyWhenEveryByteArrived) {
    const std::string text =
        "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Base: rtsp://h/a/\r\ncontent-length: 5\r\n"
        "Session: 12AB;timeout=60\r\n\r\nhello";
    // Every prefix is incomplete; nothing is consumed before the last byte.
    for (size_t n = 0; n < text.size(); ++n) {
        rtsp::ParseResult r = Parse(text.substr(0, n));
        ASSERT_EQ(r.kind, rtsp::ParseKind::kNeedMore) << n;
        ASSERT_EQ(r.consumed, 0u) << n;
    }
    rtsp::ParseResult r = Parse(text + "$");
    ASSERT_EQ(r.kind, rtsp::ParseKind::kMessage);
    EXPECT_EQ(r.consumed, text.size());
    EXPECT_TRUE(r.message.is_reply);
    EXPECT_EQ(r.message.status_code, 200);
    EXPECT_EQ(r.message.body, "hello");
    EXPECT_EQ(*r.message.Header("content-base"), "rtsp://h/a/");
    EXPECT_EQ(*r.message.Header("SESSION"), "12AB;timeout=60");
    EXPECT_EQ(r.message.CSeq(), 2u);
}

TEST(MessageParser, InterleavedPacketsBeforeBetweenAndAfterLineEnds) {
    std::string bytes =
        std::string("\r\n$\x03\x00\x02", 6) + "ab" + "RTSP/1.0 404 Not Found\nCSeq: 7\n\n";
    rtsp::ParseResult r = Parse(bytes);
    ASSERT_EQ(r.kind, rtsp::ParseKind::kInterleaved);
    EXPECT_EQ(r.channel, 3);
    ASSERT_EQ(r.packet_length, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.packet), 2), "ab");
    EXPECT_EQ(r.consumed, 8u);
    r = Parse(bytes.substr(8));
    ASSERT_EQ(r.kind, rtsp::ParseKind::kMessage);  // bare LF line ends are accepted
    EXPECT_EQ(r.message.status_code, 404);
    EXPECT_EQ(r.message.reason, "Not Found");
    EXPECT_EQ(r.message.CSeq(), 7u);

    // A zero-length packet and a packet whose length runs past the data.
    r = Parse(std::string("$\x00\x00\x00", 4));
    EXPECT_EQ(r.kind, rtsp::ParseKind::kInterleaved);
    EXPECT_EQ(r.packet_length, 0u);
    r = Parse(std::string("$\x00\xFF\xFF", 4) + std::string(100, 'x'));
    EXPECT_EQ(r.kind, rtsp::ParseKind::kNeedMore);
}

TEST(MessageParser, RefusesWhatCannotBeRtsp) {
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\n\r\n").kind, rtsp::ParseKind::kError);
    EXPECT_EQ(Parse("RTSP/1.0 2x0 OK\r\n\r\n").kind, rtsp::ParseKind::kError);
    EXPECT_EQ(Parse(std::string("\x17\x99garbage", 9)).kind, rtsp::ParseKind::kError);
    // Garbage without a line end is refused early too, not after 64 KiB.
    EXPECT_EQ(Parse("\x01\x02\x03\x04\x05\x06").kind, rtsp::ParseKind::kError);
    EXPECT_EQ(Parse("RTSP/1.0 200 OK\r\nContent-Length: 99999999\r\n\r\n").kind,
              rtsp::ParseKind::kError);
    EXPECT_EQ(Parse("RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n").kind, rtsp::ParseKind::kError);
    // A header block that never ends is refused at the limit.
    std::string endless = "RTSP/1.0 200 OK\r\n" + std::string(rtsp::kMaxHeaderBytes, 'a');
    EXPECT_EQ(Parse(endless).kind, rtsp::ParseKind::kError);
}

TEST(MessageParser, RequestsFoldedHeadersAndMissingCSeq) {
    rtsp::ParseResult r =
        Parse("GET_PARAMETER rtsp://h/x RTSP/1.0\r\nCSeq: 9\r\nX-Long: one\r\n two\r\n\r\n");
    ASSERT_EQ(r.kind, rtsp::ParseKind::kMessage);
    EXPECT_FALSE(r.message.is_reply);
    EXPECT_EQ(r.message.method, "GET_PARAMETER");
    EXPECT_EQ(r.message.uri, "rtsp://h/x");
    EXPECT_EQ(*r.message.Header("x-long"), "one two");
    r = Parse("RTSP/1.0 200 OK\r\nCSeq: abc\r\n\r\n");
    ASSERT_EQ(r.kind, rtsp::ParseKind::kMessage);
    EXPECT_FALSE(r.message.CSeq().has_value());
}

TEST(RtspUrl, HostPortAndDefaults) {
    auto u = rtsp::ParseRtspUrl("rtsp://example.org/a/b");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "example.org");
    EXPECT_EQ(u->port, 554);
    u = rtsp::ParseRtspUrl("RTSP://user:pw@10.0.0.1:8554/x?y");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "10.0.0.1");
    EXPECT_EQ(u->port, 8554);
    u = rtsp::ParseRtspUrl("rtsp://[::1]:9000");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "::1");
    EXPECT_EQ(u->port, 9000);
    // A long address is no problem.
    u = rtsp::ParseRtspUrl("rtsp://h:1/" + std::string(5000, 'p'));
    ASSERT_TRUE(u);
    EXPECT_EQ(u->port, 1);
    EXPECT_FALSE(rtsp::ParseRtspUrl("http://h/"));
    EXPECT_FALSE(rtsp::ParseRtspUrl("rtsp:///x"));
    EXPECT_FALSE(rtsp::ParseRtspUrl("rtsp://h:0/"));
    EXPECT_FALSE(rtsp::ParseRtspUrl("rtsp://h:70000/"));
    EXPECT_FALSE(rtsp::ParseRtspUrl("rtsp://h:12a/"));
}

}  // namespace
