// The two elements on real pictures: rtpavsdepay in a GstHarness fed with
// RTP packets cut by rtspserve's packetizer, and the container sample parser
// behind avscontainerparse on stored samples, damaged ones and seeks.
#include <gst/check/gstharness.h>
#include <gst/rtp/rtp.h>
#include <gtest/gtest.h>

#include <cstring>

#include "avs/byte_source.h"
#include "avs/picture_splitter.h"
#include "gst/container_picture_parser.h"
#include "tests/gst/gst_test_support.h"
#include "tools/rtspserve/packetizer.h"

namespace {

using namespace gsttest;
using avsgst::PictureKind;

std::vector<Bytes> PicturesOf(const std::string& path) {
    Bytes stream = ReadFile(path);
    avs::MemoryByteSource source(stream.data(), stream.size());
    avs::AvsUnitReader reader(source);
    avs::AvsPictureSplitter splitter(reader);
    std::vector<Bytes> pictures;
    Bytes picture;
    while (splitter.Next(picture)) pictures.push_back(picture);
    return pictures;
}

// The container's form: each unit as a 32-bit length, a header byte and the body.
Bytes Stored(const Bytes& picture) {
    Bytes stored;
    auto units = rtspserve::SplitUnits(picture.data(), picture.size());
    for (auto [offset, size] : units) {
        uint32_t length = static_cast<uint32_t>(size) + 1;
        for (int shift = 24; shift >= 0; shift -= 8) stored.push_back(uint8_t(length >> shift));
        stored.push_back(0x01);
        stored.insert(stored.end(), picture.begin() + offset, picture.begin() + offset + size);
    }
    return stored;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

class DepayloaderElement : public ::testing::Test {
  protected:
    void SetUp() override {
        InitGstreamer();
        pictures = PicturesOf(kXavs);
        ASSERT_EQ(pictures.size(), 100u);
        std::optional<std::span<const uint8_t>> header =
            avsgst::leading_sequence_header(pictures[0]);
        ASSERT_TRUE(header);
        header_.assign(header->begin(), header->end());
        gchar* sprop = g_base64_encode(header_.data() + 3, header_.size() - 3);
        h = gst_harness_new("rtpavsdepay");
        gchar* caps = g_strdup_printf(
            "application/x-rtp, media=video, clock-rate=90000, encoding-name=AVS1-P2, "
            "payload=96, sprop-parameter-sets=\"%s,AAAA\"",
            sprop);
        gst_harness_set_src_caps_str(h, caps);
        g_free(caps);
        g_free(sprop);
    }
    void TearDown() override { gst_harness_teardown(h); }

    // Sends one picture as RTP packets; `lose` drops the packet of that index.
    void SendPicture(const Bytes& picture, uint32_t timestamp, int lose = -1) {
        int index = 0;
        rtspserve::PacketizePicture(
            picture.data(), picture.size(), 600, [&](const uint8_t* p, size_t n, bool last) {
                uint16_t seq = sequence++;
                if (index++ == lose) return;
                GstBuffer* buffer = gst_rtp_buffer_new_allocate(static_cast<guint>(n), 0, 0);
                GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
                gst_rtp_buffer_map(buffer, GST_MAP_WRITE, &rtp);
                gst_rtp_buffer_set_payload_type(&rtp, 96);
                gst_rtp_buffer_set_seq(&rtp, seq);
                gst_rtp_buffer_set_timestamp(&rtp, timestamp);
                gst_rtp_buffer_set_ssrc(&rtp, 0x1234);
                gst_rtp_buffer_set_marker(&rtp, last);
                std::memcpy(gst_rtp_buffer_get_payload(&rtp), p, n);
                gst_rtp_buffer_unmap(&rtp);
                GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(timestamp, GST_SECOND, 90000);
                ASSERT_EQ(gst_harness_push(h, buffer), GST_FLOW_OK);
            });
    }
    struct Out {
        Bytes bytes;
        bool delta, discont;
    };
    std::vector<Out> Pull() {
        std::vector<Out> out;
        while (GstBuffer* buffer = gst_harness_try_pull(h)) {
            GstMapInfo map;
            gst_buffer_map(buffer, &map, GST_MAP_READ);
            out.push_back({Bytes(map.data, map.data + map.size),
                           GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT),
                           GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT)});
            gst_buffer_unmap(buffer, &map);
            gst_buffer_unref(buffer);
        }
        return out;
    }

    GstHarness* h = nullptr;
    std::vector<Bytes> pictures;
    Bytes header_;
    uint16_t sequence = 65000;
};

TEST_F(DepayloaderElement, PicturesWithTheDescribedHeaderCapsAndFlags) {
    // Joining after the stream's own header: the description's goes first.
    for (size_t i = 1; i < 30; ++i) SendPicture(pictures[i], static_cast<uint32_t>(i * 3600));
    std::vector<Out> out = Pull();
    ASSERT_EQ(out.size(), 29u);
    EXPECT_EQ(out[0].bytes, Concat(header_, pictures[1]));
    EXPECT_TRUE(out[0].discont);
    for (size_t i = 1; i < out.size(); ++i) {
        ASSERT_EQ(out[i].bytes, pictures[i + 1]) << i;
        EXPECT_FALSE(out[i].discont) << i;
        // Picture 25 is the second key picture.
        EXPECT_EQ(out[i].delta, i + 1 != 25) << i;
    }
    GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
    ASSERT_NE(caps, nullptr);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0, fps_n = 0, fps_d = 0, par_n = 0, par_d = 0;
    EXPECT_STREQ(gst_structure_get_name(s), "video/x-cavs");
    EXPECT_TRUE(gst_structure_get_int(s, "width", &width) && width == 352);
    EXPECT_TRUE(gst_structure_get_int(s, "height", &height) && height == 288);
    EXPECT_TRUE(gst_structure_get_fraction(s, "framerate", &fps_n, &fps_d) && fps_n == 25 &&
                fps_d == 1);
    EXPECT_TRUE(gst_structure_get_fraction(s, "pixel-aspect-ratio", &par_n, &par_d) && par_n == 1 &&
                par_d == 1);
    gst_caps_unref(caps);
}

TEST_F(DepayloaderElement, LostPacketDropsItsPictureAndMarksTheNext) {
    SendPicture(pictures[0], 0);
    SendPicture(pictures[1], 3600);
    ASSERT_GT(pictures[0].size(), 1200u);  // the key picture takes several packets
    SendPicture(pictures[25], 25 * 3600, 1);
    SendPicture(pictures[26], 26 * 3600);
    SendPicture(pictures[27], 27 * 3600);
    std::vector<Out> out = Pull();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].bytes, pictures[0]);  // it brings its own header
    EXPECT_EQ(out[1].bytes, pictures[1]);
    EXPECT_EQ(out[2].bytes, Concat(header_, pictures[26]));
    EXPECT_TRUE(out[2].discont);
    EXPECT_EQ(out[3].bytes, pictures[27]);
    EXPECT_FALSE(out[3].discont);
}

TEST(ContainerSamples, DamagedSamplesAndSeeks) {
    std::vector<Bytes> pictures = PicturesOf(kXavs);
    ASSERT_EQ(pictures.size(), 100u);
    // xavs: I P B P B ... with a key picture (and header) at 0, 25, 50 and 75.
    avsgst::ContainerPictureParser parser;
    avsgst::ContainerPicture picture;
    auto push = [&](const Bytes& stored, bool discont = false) {
        Bytes sample = stored;
        bool kept = parser.Push(sample, discont, picture);
        return kept ? std::optional<Bytes>(Bytes(sample.begin(), sample.begin() + picture.size))
                    : std::nullopt;
    };
    // A P picture before any sequence header cannot be decoded.
    EXPECT_FALSE(push(Stored(pictures[1])));
    std::optional<Bytes> first = push(Stored(pictures[0]));
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, pictures[0]);
    EXPECT_EQ(picture.kind, PictureKind::Key);
    EXPECT_FALSE(picture.needs_header);
    ASSERT_TRUE(parser.format());
    EXPECT_EQ(parser.format()->width, 352);
    EXPECT_EQ(parser.format()->fps_n, 25);
    EXPECT_TRUE(parser.TakeFormatChange());
    EXPECT_FALSE(parser.TakeFormatChange());
    EXPECT_EQ(push(Stored(pictures[1])), pictures[1]);
    EXPECT_EQ(picture.kind, PictureKind::Predicted);
    EXPECT_EQ(push(Stored(pictures[2])), pictures[2]);
    EXPECT_EQ(picture.kind, PictureKind::Bidirectional);

    // A unit running past its sample: dropped, the next picture follows a break.
    Bytes damaged = Stored(pictures[3]);
    damaged[3] += 9;
    EXPECT_FALSE(push(damaged));
    EXPECT_EQ(parser.invalid_samples(), 1u);
    EXPECT_EQ(push(Stored(pictures[4])), pictures[4]);
    EXPECT_TRUE(picture.discontinuity);
    EXPECT_TRUE(picture.needs_header);
    EXPECT_EQ(parser.sequence_header().size(),
              avsgst::leading_sequence_header(pictures[0])->size());

    // After a seek: P and B pictures wait for a key picture, then a B picture
    // right after it (which refers to a picture before the seek) goes too.
    parser.Flush();
    EXPECT_FALSE(push(Stored(pictures[31])));
    EXPECT_FALSE(push(Stored(pictures[32])));
    Bytes key_without_header(pictures[50].begin() + parser.sequence_header().size(),
                             pictures[50].end());
    EXPECT_EQ(push(Stored(key_without_header)), key_without_header);
    EXPECT_TRUE(picture.needs_header);
    EXPECT_FALSE(push(Stored(pictures[52])));  // a B picture
    EXPECT_EQ(push(Stored(pictures[51])), pictures[51]);
    EXPECT_FALSE(picture.discontinuity);
    EXPECT_EQ(push(Stored(pictures[52])), pictures[52]);
}

}  // namespace
