#include <gtest/gtest.h>

#include <string>

#include "rtspstream/control_urls.h"
#include "rtspstream/media_table.h"
#include "rtspstream/stream_formats.h"

namespace {

using namespace rtspstream;

rtsp::SessionDescription Decode(const std::string& text) {
    rtsp::SdpDecodeResult r = rtsp::DecodeSdp(text);
    EXPECT_EQ(r.descriptions.size(), 1u);
    return r.descriptions.at(0);
}

TEST(ControlUrls, RelativeStarAbsoluteAndSlashes) {
    EXPECT_EQ(ResolveControlUrl("trackID=1", "rtsp://h/s"), "rtsp://h/s/trackID=1");
    EXPECT_EQ(ResolveControlUrl("/trackID=1", "rtsp://h/s"), "rtsp://h/s/trackID=1");
    EXPECT_EQ(ResolveControlUrl("//trackID=1", "rtsp://h/s/"), "rtsp://h/s/trackID=1");
    EXPECT_EQ(ResolveControlUrl("trackID=1", "rtsp://h/s/"), "rtsp://h/s/trackID=1");
    EXPECT_EQ(ResolveControlUrl("*", "rtsp://h/s/"), "rtsp://h/s/");
    EXPECT_EQ(ResolveControlUrl("rtsp://other/t", "rtsp://h/s"), "rtsp://other/t");

    rtsp::SessionDescription d = Decode(
        "v=0\na=control:*\nm=video 0 RTP/AVP 96\na=control:trackID=1\nm=audio 0 RTP/AVP 14\n");
    const std::string long_base = "rtsp://h/" + std::string(300, 'x');  // no 128-byte limit
    ResolveControlUrls(d, long_base);
    EXPECT_EQ(d.control, long_base);
    EXPECT_EQ(d.media[0].control, long_base + "/trackID=1");
    EXPECT_FALSE(d.media[1].control);  // missing stays missing
}

TEST(MediaTable, KindsCodecsAndPayloadLookup) {
    rtsp::SessionDescription d = Decode(
        "v=0\n"
        "m=Video 0 RTP/AVP 96\na=rtpmap:96 avs1-p2/90000\n"
        "m=audio 0 RTP/AVP 14\na=rtpmap:14 MPA/90000\n"
        "m=audio 0 RTP/AVP 97\na=rtpmap:97 mpa/44100\n"
        "m=video 0 RTP/AVP 14\na=rtpmap:14 AVS1-P2/1000\n");
    MediaTable t;
    ASSERT_TRUE(ClassifyMedia(d.media, t));
    ASSERT_EQ(t.Video().size(), 2u);
    ASSERT_EQ(t.Audio().size(), 2u);
    EXPECT_EQ(t.Total(), 4u);
    EXPECT_EQ(t.Video()[0].payload_type, 96);
    EXPECT_EQ(t.Video()[0].kind, kMediaVideo);
    EXPECT_EQ(t.Video()[0].codec, kCodecAvs);
    EXPECT_EQ(t.Audio()[0].payload_type, 14);
    EXPECT_EQ(t.Audio()[0].kind, kMediaAudio);
    EXPECT_EQ(t.Audio()[0].codec, kCodecMpa);
    EXPECT_EQ(t.Audio()[1].codec, kCodecMpa);  // "mpa": codec by any case...
    EXPECT_EQ(t.VideoClockRate(0), 90000u);
    EXPECT_EQ(t.AudioClockRate(1), 44100u);
    EXPECT_EQ(t.VideoClockRate(2), 0u);
    // The audio list is searched first: 14 is the audio entry, not the second video.
    EXPECT_EQ(t.FindByPayloadType(14), &t.Audio()[0]);
    EXPECT_EQ(t.FindByPayloadType(96), &t.Video()[0]);
    EXPECT_EQ(t.FindByPayloadType(72), nullptr);

    std::optional<AudioFormatRecord> f = GetAudioFormat(t, 0);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->w_format_tag, 0x50);
    EXPECT_EQ(f->n_samples_per_sec, 90000u);
    EXPECT_EQ(f->n_channels, 0);
    f = GetAudioFormat(t, 1);
    EXPECT_EQ(f->w_format_tag, 0);  // ...but the format tag only for exactly "MPA"
    EXPECT_EQ(f->n_samples_per_sec, 44100u);
    EXPECT_FALSE(GetAudioFormat(t, 2));
}

TEST(MediaTable, RefusedDescriptionsAndMediaWithoutRtpmap) {
    MediaTable t;
    EXPECT_FALSE(ClassifyMedia(Decode("v=0\nm=Audio 0 RTP/AVP 14\n").media, t));
    EXPECT_FALSE(
        ClassifyMedia(Decode("v=0\nm=video 0 RTP/AVP 96\nm=application 0 RTP/AVP 107\n").media, t));
    EXPECT_EQ(t.Total(), 0u);
    EXPECT_FALSE(ClassifyMedia(Decode("v=0\ns=nothing\n").media, t));
    EXPECT_FALSE(ClassifyMedia(Decode("v=0\nm=video 0 RTP/AVP\n").media, t));  // no format

    // Static type 14 needs no rtpmap; a dynamic type without one has no codec
    // and no clock; a format that is not a number matches no packet.
    rtsp::SessionDescription d =
        Decode("v=0\nm=audio 0 RTP/AVP 14\nm=video 0 RTP/AVP 96\nm=audio 0 RTP/AVP x\n");
    ASSERT_TRUE(ClassifyMedia(d.media, t));
    EXPECT_EQ(t.Audio()[0].codec, kCodecMpa);
    EXPECT_EQ(t.AudioClockRate(0), 90000u);
    EXPECT_EQ(GetAudioFormat(t, 0)->w_format_tag, 0x50);
    EXPECT_EQ(t.Video()[0].codec, kCodecOther);
    EXPECT_EQ(t.VideoClockRate(0), 0u);
    EXPECT_EQ(t.Audio()[1].payload_type, -1);
}

std::optional<std::vector<uint8_t>> SetsOf(const std::string& fmtp) {
    static rtsp::SessionDescription d;
    d = Decode("v=0\nm=video 0 RTP/AVP 96\na=rtpmap:96 AVS1-P2/90000\na=fmtp:96 " + fmtp + "\n");
    static MediaTable t;
    EXPECT_TRUE(ClassifyMedia(d.media, t));
    return DecodeParameterSets(t, 0);
}

TEST(ParameterSets, FirstSetOnlyBase64Rules) {
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(SetsOf("sprop-parameter-sets=sAAB,abcd"), (Bytes{0, 0, 1, 0xB0, 0x00, 0x01}));
    EXPECT_EQ(SetsOf("profile=1;sprop-parameter-sets=sAAB;x=y"),
              (Bytes{0, 0, 1, 0xB0, 0x00, 0x01}));
    EXPECT_EQ(SetsOf("sprop-parameter-sets=sA=="), (Bytes{0, 0, 1, 0xB0}));
    EXPECT_EQ(SetsOf("sprop-parameter-sets=sAA="), (Bytes{0, 0, 1, 0xB0, 0x00}));
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=sAABa"));  // five characters
    EXPECT_FALSE(SetsOf("sprop-parameter-sets="));
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=,sAAB"));
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=s=AB"));      // '=' inside
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=sA==sAAB"));  // '=' before the last group
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=s==="));
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=sA!B"));
    EXPECT_FALSE(SetsOf("sprop-parameter-sets=sA\xC3\xA9"));
    EXPECT_FALSE(SetsOf("profile-level-id=1"));
}

TEST(ParameterSets, VideoHeaderIsCutToItsRoom) {
    std::string value;
    // 200 decoded bytes: B0 then 199 bytes of 0x11.
    std::vector<uint8_t> raw(200, 0x11);
    raw[0] = 0xB0;
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i + 2 < raw.size(); i += 3) {
        uint32_t v = (raw[i] << 16) | (raw[i + 1] << 8) | raw[i + 2];
        for (int k = 3; k >= 0; --k) value += kAlphabet[(v >> (6 * k)) & 63];
    }
    // 198 bytes encoded (66 groups).
    rtsp::SessionDescription d = Decode(
        "v=0\nm=video 0 RTP/AVP 96\na=rtpmap:96 AVS1-P2/90000\n"
        "a=fmtp:96 sprop-parameter-sets=" +
        value + "\n");
    MediaTable t;
    ASSERT_TRUE(ClassifyMedia(d.media, t));
    ASSERT_EQ(DecodeParameterSets(t, 0)->size(), 201u);
    avs::AvsSequenceHeader h;
    h.bit_rate = 5;
    ASSERT_TRUE(GetVideoHeader(t, 0, h));
    EXPECT_EQ(h.header_length, 140);
    EXPECT_EQ(h.header_bytes[3], 0xB0);
    EXPECT_EQ(h.header_bytes[139], 0x11);
    EXPECT_EQ(h.bit_rate, 0);  // zeroed otherwise

    EXPECT_FALSE(GetVideoHeader(t, 1, h));  // outside the list
    EXPECT_EQ(h.header_length, 0);
}

}  // namespace
