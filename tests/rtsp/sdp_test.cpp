#include "rtsp/sdp.h"

#include <gtest/gtest.h>

#include "rtsp/rtp_header.h"

namespace {

TEST(Sdp, DecodesWhatTheSessionUsesAndKeepsTheRest) {
    const char* text =
        "v=0\r\n"
        "o=- 1 1 IN IP4 10.0.0.1\r\n"
        "s=Camera\r\n"
        "t=0 0\r\n"
        "a=control:*\r\n"
        "a=range:npt=0-123.456\r\n"
        "a=type:broadcast\r\n"
        "m=video 0 RTP/AVP 96 97\r\n"
        "c=IN IP4 0.0.0.0\r\n"
        "a=rtpmap:97 H264/90000\r\n"
        "a=rtpmap:96 AVS1-P2/90000\r\n"
        "a=fmtp:96 sprop-parameter-sets=sAAB,abcd;other=1\r\n"
        "a=ssrc:1234 cname:x\r\n"
        "a=mediaclk:direct=0\r\n"
        "a=ts-refclk:ptp=IEEE1588-2008:00-00\r\n"
        "a=control:trackID=1\r\n"
        "m=audio 0 RTP/AVP 14\n"
        "a=rtpmap:14 MPA/90000/2\n"
        "a=control:rtsp://other/track2\n";
    rtsp::SdpDecodeResult r = rtsp::DecodeSdp(text);
    EXPECT_FALSE(r.error) << r.error_text;
    ASSERT_EQ(r.descriptions.size(), 1u);
    const rtsp::SessionDescription& d = r.descriptions[0];
    EXPECT_EQ(d.session_name, "Camera");
    EXPECT_EQ(d.control, "*");
    ASSERT_TRUE(d.range_end);
    EXPECT_DOUBLE_EQ(*d.range_end, 123.456);
    ASSERT_EQ(d.media.size(), 2u);
    const rtsp::SdpMedia& v = d.media[0];
    EXPECT_EQ(v.name, "video");
    ASSERT_EQ(v.formats.size(), 2u);
    EXPECT_EQ(v.formats[0].text, "96");
    ASSERT_TRUE(v.formats[0].rtpmap);
    EXPECT_EQ(v.formats[0].rtpmap->encoding_name, "AVS1-P2");
    EXPECT_EQ(v.formats[0].rtpmap->clock_rate, 90000u);
    EXPECT_EQ(v.formats[0].fmtp, "sprop-parameter-sets=sAAB,abcd;other=1");
    EXPECT_EQ(v.formats[1].rtpmap->encoding_name, "H264");
    EXPECT_EQ(v.control, "trackID=1");
    EXPECT_EQ(v.attributes.size(), 7u);  // unused ones are kept, not refused
    const rtsp::SdpMedia& a = d.media[1];
    EXPECT_EQ(a.name, "audio");
    EXPECT_EQ(a.formats[0].rtpmap->clock_rate, 90000u);
    EXPECT_EQ(a.formats[0].rtpmap->parameters, "2");
    EXPECT_FALSE(a.formats[0].fmtp);
    EXPECT_EQ(a.control, "rtsp://other/track2");
}

TEST(Sdp, ErrorsAreReportedButDoNotStopDecoding) {
    rtsp::SdpDecodeResult r = rtsp::DecodeSdp("v=0\nthis is not sdp\nm=video 0 RTP/AVP 96\n");
    EXPECT_TRUE(r.error);
    ASSERT_EQ(r.descriptions.size(), 1u);
    EXPECT_EQ(r.descriptions[0].media.size(), 1u);

    r = rtsp::DecodeSdp("");
    EXPECT_TRUE(r.error);
    EXPECT_TRUE(r.descriptions.empty());
    r = rtsp::DecodeSdp("<html>404</html>");
    EXPECT_TRUE(r.error);
    EXPECT_TRUE(r.descriptions.empty());
    r = rtsp::DecodeSdp("v=0\ns=a\nv=0\ns=b\n");
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.descriptions.size(), 2u);
    // A malformed rtpmap or m= line is an error; the media stays, without formats.
    r = rtsp::DecodeSdp("v=0\nm=video\na=rtpmap:96 AVS1-P2\n");
    EXPECT_TRUE(r.error);
    ASSERT_EQ(r.descriptions[0].media.size(), 1u);
    EXPECT_TRUE(r.descriptions[0].media[0].formats.empty());
}

TEST(Sdp, NptRangeEnd) {
    EXPECT_EQ(rtsp::ParseNptRangeEnd("npt=0-60"), 60.0);
    EXPECT_EQ(rtsp::ParseNptRangeEnd("npt=0.000-60.500"), 60.5);
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("npt=0-"));
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("npt=now-"));
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("clock=19961108T142300Z-"));
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("npt=0-1e300"));
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("npt=0-nan"));
    EXPECT_FALSE(rtsp::ParseNptRangeEnd("npt=0--5"));
}

TEST(RtpHeader, FieldsPayloadAfterCsrcAndExtensionPaddingKept) {
    // V=2 P=1 X=1 CC=1, M=1 PT=96, seq 0x1234, ts 0x89ABCDEF, ssrc, one CSRC,
    // extension of one word, payload "ab" and two fill bytes (count 2).
    const uint8_t packet[] = {0xB1, 0xE0, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 1, 2, 3,   4,   9, 9,
                              9,    9,    0xBE, 0xDE, 0x00, 0x01, 7,    7,    7, 7, 'a', 'b', 0, 2};
    rtsp::RtpHeader h;
    ASSERT_TRUE(rtsp::ParseRtpHeader(packet, sizeof packet, h));
    EXPECT_TRUE(h.marker);
    EXPECT_EQ(h.payload_type, 96);
    EXPECT_EQ(h.sequence, 0x1234);
    EXPECT_EQ(h.timestamp, 0x89ABCDEFu);
    EXPECT_EQ(h.ssrc, 0x01020304u);
    EXPECT_EQ(h.payload, packet + 24);
    EXPECT_EQ(h.payload_length, 4u);

    // Each announced part that does not fit makes the parse fail.
    EXPECT_FALSE(rtsp::ParseRtpHeader(packet, 0, h));
    EXPECT_FALSE(rtsp::ParseRtpHeader(packet, 11, h));
    EXPECT_FALSE(rtsp::ParseRtpHeader(packet, 15, h));  // CSRC list cut
    EXPECT_FALSE(rtsp::ParseRtpHeader(packet, 19, h));  // extension header cut
    EXPECT_FALSE(rtsp::ParseRtpHeader(packet, 23, h));  // extension body cut
    ASSERT_TRUE(rtsp::ParseRtpHeader(packet, 24, h));   // empty payload is fine
    EXPECT_EQ(h.payload_length, 0u);

    const uint8_t rtcp[] = {0x80, 200, 0, 6, 1, 2, 3, 4, 0, 0, 0, 0};  // a sender report
    ASSERT_TRUE(rtsp::ParseRtpHeader(rtcp, sizeof rtcp, h));
    EXPECT_EQ(h.payload_type, 200 & 0x7F);  // 72: matches no media
    EXPECT_TRUE(h.marker);
}

}  // namespace
