#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rtspstream/rtsp_client_session.h"
#include "tests/rtspstream/frame_collector.h"

namespace {

using Bytes = std::vector<uint8_t>;
using rtspstream::RtspClientSession;
using rtspstreamtest::FrameCollector;

const char kSdp[] =
    "v=0\r\ns=t\r\na=control:*\r\na=range:npt=0-60\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 AVS1-P2/90000\r\na=fmtp:96 sprop-parameter-sets=sAAB\r\n"
    "a=control:trackID=1\r\n"
    "m=audio 0 RTP/AVP 14\r\na=rtpmap:14 MPA/90000\r\na=control:trackID=2\r\n";

Bytes Rtp(uint8_t payload_type, bool marker, uint32_t timestamp, const Bytes& payload) {
    Bytes p(12 + payload.size());
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | payload_type);
    p[3] = 1;
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
    p[11] = 1;
    std::copy(payload.begin(), payload.end(), p.begin() + 12);
    return p;
}

class Depacketizer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session_.LoadDescription(kSdp, "rtsp://h/s"));
        frames_.Attach(session_);
    }
    void Send(const Bytes& packet, uint8_t channel = 0) {
        RtspClientSession::OnRtpPacket(&session_, channel, packet.data(), packet.size());
    }
    void Video(bool marker, uint32_t ts, const Bytes& payload) {
        Send(Rtp(96, marker, ts, payload));
    }
    void Audio(uint32_t ts, const Bytes& payload) { Send(Rtp(14, true, ts, payload), 2); }

    RtspClientSession session_;
    FrameCollector frames_;
};

TEST_F(Depacketizer, SingleAggregatedAndFragmentedUnits) {
    Video(true, 1000, {0x01, 0xB3, 'a', 'b', 'c'});
    Video(true, 1000, {24, 0x00, 0x03, 0x01, 0xB0, 'x', 0x00, 0x02, 0x01, 0xB3});
    // Fragments: start, middle, end; then a fourth fragment opens a new unit.
    Video(false, 1000, {28, 0x80, 0xB6, 1});
    Video(false, 1000, {28, 0x00, 2});
    Video(false, 1000, {28, 0x40, 3});
    Video(true, 1000, {28, 0x80, 0x00, 9});
    auto v = frames_.Of(true);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].bytes, (Bytes{0, 0, 1, 0xB3, 'a', 'b', 'c'}));
    EXPECT_EQ(v[1].bytes, (Bytes{0, 0, 1, 0xB0, 'x', 0, 0, 1, 0xB3}));
    EXPECT_EQ(v[2].bytes, (Bytes{0, 0, 1, 0xB6, 1, 2, 3, 0, 0, 1, 0x00, 9}));
    // The upper bits of the type byte are ignored: 0x61 is type 1.
    Video(true, 1000, {0x61, 0xB3});
    EXPECT_EQ(frames_.Of(true).back().bytes, (Bytes{0, 0, 1, 0xB3}));
}

TEST_F(Depacketizer, AggregationThatOverrunsItsPayloadKeepsOnlyWholeUnits) {
    // Second unit claims 9 bytes where 2 remain; a unit of size 0 is skipped.
    Video(true, 0, {24, 0x00, 0x02, 0x01, 0xB0, 0x00, 0x00, 0x00, 0x09, 0x01, 0xB3});
    // One lone byte after the last unit ends the walk too.
    Video(true, 0, {24, 0x00, 0x02, 0x01, 0xB5, 0x07});
    auto v = frames_.Of(true);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].bytes, (Bytes{0, 0, 1, 0xB0}));
    EXPECT_EQ(v[1].bytes, (Bytes{0, 0, 1, 0xB5}));
}

TEST_F(Depacketizer, ReservedTypesDroppedMarkerUnlookedAt) {
    Video(false, 0, {0x01, 0xB3, 1});
    Video(true, 0, {30, 0xB6, 2});  // type 30 with the marker: dropped whole
    EXPECT_EQ(frames_.Count(true), 0u);
    Video(true, 0, {0x01, 0x00, 3});
    ASSERT_EQ(frames_.Count(true), 1u);
    EXPECT_EQ(frames_.Of(true)[0].bytes, (Bytes{0, 0, 1, 0xB3, 1, 0, 0, 1, 0x00, 3}));
    // Empty payloads, short packets, RTCP and unknown payload types change nothing.
    Video(true, 0, {});
    Send({0x80});
    Send({0x80, 200, 0, 6, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 1);
    Send(Rtp(97, true, 0, {0x01, 0xB3}));
    Video(true, 0, {28});  // fragmentation without its header byte
    EXPECT_EQ(frames_.Count(true), 1u);
    EXPECT_EQ(frames_.Count(false), 0u);
}

TEST_F(Depacketizer, AudioPayloadHeaderSkippedOnlyWhenZero) {
    Audio(0, {0, 0, 0, 0, 0xFF, 0xFB, 0x90});
    Audio(0, {0xFF, 0xFB, 0x90, 0x00, 0x11});
    Audio(0, {0, 0, 0, 0});
    auto a = frames_.Of(false);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].bytes, (Bytes{0xFF, 0xFB, 0x90}));
    EXPECT_EQ(a[1].bytes, (Bytes{0xFF, 0xFB, 0x90, 0x00, 0x11}));
    EXPECT_TRUE(a[2].bytes.empty());
}

TEST_F(Depacketizer, TimesStartAtZeroOnACommonBase) {
    Video(true, 90000, {0x01, 0xB3});
    Video(true, 93600, {0x01, 0xB6});
    Audio(99000, {0xFF});   // the medium's first packet: 0
    Audio(101000, {0xFF});  // then on the common base: 101000/90000 s - 1 s
    auto v = frames_.Of(true);
    auto a = frames_.Of(false);
    ASSERT_EQ(v.size(), 2u);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(v[0].time, 0);
    EXPECT_EQ(v[1].time, 400000);
    EXPECT_EQ(a[0].time, 0);
    EXPECT_EQ(a[1].time, 1222222);
    // A small decrease is only traced; below the base the time is 0.
    Video(true, 80000, {0x01, 0xB6});
    ASSERT_EQ(frames_.Of(true).size(), 3u);
    EXPECT_EQ(frames_.Of(true).back().time, 0);
    EXPECT_EQ(session_.Timing().Video().offset, 0);
}

TEST_F(Depacketizer, MediumFarFromTheBaseGetsItsOwn) {
    Video(true, 0, {0x01, 0xB3});
    Audio(90000u * 200, {0xFF});  // 200 s away
    Audio(90000u * 200 + 9000, {0xFF});
    auto a = frames_.Of(false);
    ASSERT_EQ(a.size(), 2u);
    // Its own base: the first audio frame is 0, not 200 s.
    EXPECT_EQ(a[0].time, 0);
    EXPECT_EQ(a[1].time, 1000000);
}

TEST_F(Depacketizer, BothMediaContinueAcrossATimeStampWrap) {
    const uint32_t near_end = 0xFFFFFFFFu - 3600;
    Video(true, near_end - 3600, {0x01, 0xB3});
    Audio(near_end - 3600, {0xFF});
    Video(true, near_end, {0x01, 0xB6});
    Audio(near_end, {0xFF});
    Video(true, 3600 - 1, {0x01, 0xB6});  // wrapped
    Audio(3600 - 1, {0xFF});
    auto v = frames_.Of(true);
    auto a = frames_.Of(false);
    ASSERT_EQ(v.size(), 3u);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(v[1].time, 400000);
    EXPECT_EQ(a[1].time, 400000);
    // The converted time before the wrap is added to the offset, so the time
    // line goes on from there (by the new time stamp's own value).
    using rtspstream::TimeLine;
    int64_t expected =
        static_cast<int64_t>(TimeLine::Convert(near_end, 90000) + TimeLine::Convert(3599, 90000) -
                             TimeLine::Convert(near_end - 3600, 90000));
    EXPECT_NEAR(static_cast<double>(v[2].time), static_cast<double>(expected), 2.0);
    EXPECT_NEAR(static_cast<double>(a[2].time), static_cast<double>(expected), 2.0);
    EXPECT_GT(v[2].time, v[1].time);
    EXPECT_GT(session_.Timing().Video().offset, 0);
    EXPECT_EQ(session_.Timing().Audio().offset, session_.Timing().Video().offset);
}

// A time stamp far ahead or far behind (not a wrap) is a discontinuity: a
// lone stray keeps the last time and leaves the time line as it was; a clock
// that really moved is followed from where the time line was.
TEST_F(Depacketizer, FarTimeStampJumpsAreDiscontinuities) {
    constexpr uint32_t kHour = 3600u * 90000;
    constexpr uint32_t kBase = 0x80000000u;  // mid-range: far behind is no wrap
    Video(true, kBase, {0x01, 0xB3});
    Video(true, kBase + 3600, {0x01, 0xB6});
    Video(true, kBase + 7200 + 3 * kHour, {0x01, 0xB6});  // stray, hours ahead
    Video(true, kBase + 10800, {0x01, 0xB6});
    Video(true, kBase + 14400 - 2 * kHour, {0x01, 0xB6});  // stray, hours behind
    Video(true, kBase + 18000, {0x01, 0xB6});
    // The sender's clock moves on by an hour and stays there.
    Video(true, kBase + 21600 + kHour, {0x01, 0xB6});
    Video(true, kBase + 25200 + kHour, {0x01, 0xB6});
    Video(true, kBase + 28800 + kHour, {0x01, 0xB6});
    std::vector<int64_t> times;
    for (auto& f : frames_.Of(true)) times.push_back(f.time);
    std::vector<int64_t> expected = {0,       400000,  400000,  1200000, 1200000,
                                     2000000, 2000000, 2400000, 2800000};
    ASSERT_EQ(times.size(), expected.size());
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_NEAR(static_cast<double>(times[i]), static_cast<double>(expected[i]), 2.0) << i;
    // The wrap is still a wrap (see BothMediaContinueAcrossATimeStampWrap), and
    // audio has its own line: an hour ahead on video did not move it.
    Audio(kBase, {0xFF});
    Audio(kBase + 3600, {0xFF});
    EXPECT_NEAR(static_cast<double>(frames_.Of(false).back().time), 400000.0, 2.0);
}

TEST(TimeLine, AfterARepositionAFarTimeStampIsTakenAtItsWord) {
    rtspstream::TimeLine line;
    using rtspstream::Medium;
    line.StartIfFirst(0, 90000);
    EXPECT_EQ(line.Step(Medium::kVideo, 0, 90000), 0);
    EXPECT_EQ(line.Step(Medium::kVideo, 3600, 90000), 400000);
    line.Reposition();  // a seek an hour on
    EXPECT_EQ(line.Step(Medium::kVideo, 3600u * 90000, 90000), 36000000000);
    EXPECT_EQ(line.Step(Medium::kVideo, 3600u * 90000 + 3600, 90000), 36000400000);
    line.Reposition();  // and back to 10 minutes: not a wrap
    EXPECT_EQ(line.Step(Medium::kVideo, 600u * 90000, 90000), 6000000000);
    EXPECT_EQ(line.Video().offset, 0);
}

int ended_calls = 0;
void CountEnd(void*) {
    ++ended_calls;
}

// BYE on a control channel ends the stream once every medium that sent
// packets has said it; other RTCP, a BYE for a source never heard, and a
// BYE-shaped packet on an RTP channel do not.
TEST_F(Depacketizer, ByeOfEveryMediumEndsTheStream) {
    session_.SetStreamEnd(&CountEnd);
    ended_calls = 0;
    auto bye = [](uint32_t ssrc) {
        return Bytes{0x80, 201, 0, 1, 0, 0, 0, 9,
                     0x81, 203, 0, 1, 0, 0, 0, static_cast<uint8_t>(ssrc)};
    };
    Send(bye(1), 1);  // nothing heard yet
    EXPECT_FALSE(session_.Ended());
    Video(true, 90000, {0x01, 0xB3});
    Bytes audio = Rtp(14, true, 90000, {0xFF});
    audio[11] = 2;  // its own source
    Send(audio, 2);
    Send(Bytes{0x80, 200, 0, 1, 0, 0, 0, 1}, 1);  // a sender report
    Send(bye(7), 1);                              // someone else
    Send(bye(1), 0);                              // not a control channel
    EXPECT_FALSE(session_.Ended());
    Send(bye(1), 1);  // video leaves, audio goes on
    EXPECT_FALSE(session_.Ended());
    Send(bye(2), 3);
    EXPECT_TRUE(session_.Ended());
    EXPECT_EQ(ended_calls, 1);
    Send(bye(2), 3);
    EXPECT_EQ(ended_calls, 1);
    EXPECT_EQ(frames_.Of(true).size(), 1u);
    EXPECT_EQ(frames_.Of(false).size(), 1u);
}

TEST(DepacketizerBase, VideoThatIsNotAvsSetsNoBase) {
    RtspClientSession session;
    ASSERT_TRUE(
        session.LoadDescription("v=0\na=control:*\nm=video 0 RTP/AVP 97\na=rtpmap:97 H264/90000\n"
                                "m=audio 0 RTP/AVP 14\n",
                                "rtsp://h"));
    FrameCollector frames;
    frames.Attach(session);
    Bytes h264 = Rtp(97, true, 5000000, {0x65, 1, 2});
    RtspClientSession::OnRtpPacket(&session, 0, h264.data(), h264.size());
    EXPECT_TRUE(session.Timing().FirstPacket());
    EXPECT_EQ(frames.Frames().size(), 0u);
    Bytes mp3a = Rtp(14, true, 9000, {0xFF}), mp3b = Rtp(14, true, 18000, {0xFF});
    RtspClientSession::OnRtpPacket(&session, 2, mp3a.data(), mp3a.size());
    RtspClientSession::OnRtpPacket(&session, 2, mp3b.data(), mp3b.size());
    ASSERT_EQ(frames.Frames().size(), 2u);
    EXPECT_EQ(frames.Frames()[1].time, 1000000);
}

TEST(DepacketizerBase, AudioWithoutAClockGetsTimeZeroNotACrash) {
    RtspClientSession session;
    ASSERT_TRUE(session.LoadDescription("v=0\na=control:*\nm=audio 0 RTP/AVP 101\n", "rtsp://h"));
    FrameCollector frames;
    frames.Attach(session);
    for (uint32_t ts : {0u, 90000u, 5u}) {
        Bytes p = Rtp(101, true, ts, {0xFF, 0xF3});
        RtspClientSession::OnRtpPacket(&session, 0, p.data(), p.size());
    }
    ASSERT_EQ(frames.Frames().size(), 3u);
    for (auto& f : frames.Frames()) EXPECT_EQ(f.time, 0);
}

TEST_F(Depacketizer, OversizedPictureIsDroppedAndTheNextOneComesThrough) {
    Bytes chunk(60000, 0x22);
    chunk[0] = 28;
    chunk[1] = 0x00;
    size_t packets = rtspstream::FrameAssembler::kMaxFrameBytes / (chunk.size() - 2) + 2;
    Video(false, 0, {28, 0x80, 0xB3});
    for (size_t i = 0; i < packets; ++i) Video(false, 0, chunk);
    Video(true, 0, {28, 0x40, 1});
    EXPECT_EQ(frames_.Count(true), 0u);
    EXPECT_LE(session_.Assembler().Length(), rtspstream::FrameAssembler::kMaxFrameBytes);
    Video(true, 3600, {0x01, 0xB6, 7});
    ASSERT_EQ(frames_.Count(true), 1u);
    EXPECT_EQ(frames_.Of(true)[0].bytes, (Bytes{0, 0, 1, 0xB6, 7}));
}

TEST(NptRange, Format) {
    EXPECT_EQ(RtspClientSession::FormatNptRange(5050, 60000), "npt=5.050-60.000");
    EXPECT_EQ(RtspClientSession::FormatNptRange(0, 999), "npt=0.000-0.999");
    EXPECT_EQ(RtspClientSession::FormatNptRange(4294967295u, 1), "npt=4294967.295-0.001");
}

// Packets numbered as a sender numbers them, from one source or another.
Bytes Numbered(uint16_t sequence, bool marker, uint32_t timestamp, const Bytes& payload,
               uint8_t ssrc = 1) {
    Bytes p = Rtp(96, marker, timestamp, payload);
    p[2] = static_cast<uint8_t>(sequence >> 8);
    p[3] = static_cast<uint8_t>(sequence);
    p[11] = ssrc;
    return p;
}

TEST_F(Depacketizer, MissingPacketDropsItsPictureAndMarksTheNext) {
    // Picture 1 whole (numbers wrap 65535 -> 0), picture 2 loses its middle
    // fragment, picture 3 whole: 1 and 3 come through, 3 marked.
    Send(Numbered(65534, false, 0, {28, 0x80, 0xB3, 1}));
    Send(Numbered(65535, false, 0, {28, 0x00, 2}));
    Send(Numbered(0, true, 0, {28, 0x40, 3}));
    Send(Numbered(1, false, 3600, {28, 0x80, 0xB6, 4}));
    Send(Numbered(3, true, 3600, {28, 0x40, 6}));  // 2 is missing
    Send(Numbered(4, true, 7200, {0x01, 0xB6, 7}));
    // A late repeat and a stray packet of another source say nothing about losses.
    Send(Numbered(2, true, 7200, {0x01, 0xB6, 8}));
    Send(Numbered(900, true, 10800, {0x01, 0xB6, 9}, 7));
    Send(Numbered(5, true, 14400, {0x01, 0xB6, 10}));
    std::vector<rtspstreamtest::Frame> video = frames_.Of(true);
    ASSERT_EQ(video.size(), 5u);
    EXPECT_EQ(video[0].bytes, (Bytes{0, 0, 1, 0xB3, 1, 2, 3}));
    EXPECT_FALSE(video[0].lost_before);
    EXPECT_EQ(video[1].bytes, (Bytes{0, 0, 1, 0xB6, 7}));
    EXPECT_TRUE(video[1].lost_before);
    for (size_t i = 2; i < video.size(); ++i) EXPECT_FALSE(video[i].lost_before) << i;
    EXPECT_EQ(video[4].bytes, (Bytes{0, 0, 1, 0xB6, 10}));

    // A lost marker packet merges two pictures: the merged one goes, the next is marked.
    Send(Numbered(6, false, 18000, {28, 0x80, 0xB6, 11}));
    Send(Numbered(8, true, 21600, {0x01, 0xB6, 13}));  // 7 (18000's marker) is missing
    Send(Numbered(9, true, 25200, {0x01, 0xB6, 14}));
    video = frames_.Of(true);
    ASSERT_EQ(video.size(), 6u);
    EXPECT_EQ(video[5].bytes, (Bytes{0, 0, 1, 0xB6, 14}));
    EXPECT_TRUE(video[5].lost_before);
}

}  // namespace
