// The depacketizer behind rtpavsdepay: the RTP unit forms, the sequence
// header before the first picture and after a break, and damaged or hostile
// packets.
#include "gst/rtp_avs_depacketizer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using avsgst::DepacketizedPicture;
using avsgst::PictureKind;
using avsgst::RtpAvsDepacketizer;

const Bytes kHeader = {0, 0, 1, 0xB0, 0x20, 0x00, 0x0B, 0x04, 0x12, 0x10};

struct Out {
    Bytes bytes;
    uint32_t timestamp;
    PictureKind kind;
    bool discontinuity;
};

class Depacketizer : public ::testing::Test {
  protected:
    // Sends one packet with the next sequence number (or `sequence` when given).
    void Send(bool marker, Bytes payload, uint32_t timestamp = 3600, int sequence = -1) {
        avsgst::RtpPacketView packet;
        packet.sequence = sequence >= 0 ? static_cast<uint16_t>(sequence) : next_;
        next_ = static_cast<uint16_t>(packet.sequence + 1);
        packet.timestamp = timestamp;
        packet.marker = marker;
        packet.payload = payload;
        DepacketizedPicture picture;
        if (d.Push(packet, picture))
            out.push_back({Bytes(picture.bytes.begin(), picture.bytes.end()), picture.timestamp,
                           picture.kind, picture.discontinuity});
    }
    void Skip(int packets) { next_ = static_cast<uint16_t>(next_ + packets); }

    RtpAvsDepacketizer d;
    std::vector<Out> out;
    uint16_t next_ = 65530;  // runs through the wrap of the sequence number
};

TEST_F(Depacketizer, UnitFormsAndReservedTypes) {
    Send(true, {0x01, 0xB3, 'a', 'b', 'c'}, 90000);
    Send(true, {24, 0x00, 0x03, 0x01, 0xB0, 'x', 0x00, 0x02, 0x01, 0xB3}, 93600);
    // Start, middle and end fragments make one unit; the next fragment opens another.
    Send(false, {28, 0x80, 0xB6, 0x40}, 97200);
    Send(false, {28, 0x00, 2});
    Send(false, {28, 0x40, 3});
    Send(false, {28, 0x80, 0x00, 9});
    Send(false, {28, 0x40, 8});
    // A reserved type is passed over, marker and all: the picture ends at the next marker.
    Send(true, {30, 0xAA});
    Send(true, {0x01, 0x01, 7}, 97200);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].bytes, (Bytes{0, 0, 1, 0xB3, 'a', 'b', 'c'}));
    EXPECT_EQ(out[0].timestamp, 90000u);
    EXPECT_EQ(out[0].kind, PictureKind::Key);
    EXPECT_TRUE(out[0].discontinuity);
    EXPECT_EQ(out[1].bytes, (Bytes{0, 0, 1, 0xB0, 'x', 0, 0, 1, 0xB3}));
    EXPECT_EQ(out[1].timestamp, 93600u);
    EXPECT_FALSE(out[1].discontinuity);
    EXPECT_EQ(out[2].bytes,
              (Bytes{0, 0, 1, 0xB6, 0x40, 2, 3, 0, 0, 1, 0x00, 9, 8, 0, 0, 1, 0x01, 7}));
    EXPECT_EQ(out[2].kind, PictureKind::Predicted);
    EXPECT_EQ(d.pictures_dropped(), 0u);
}

TEST_F(Depacketizer, SequenceHeaderGoesBeforeTheFirstPictureAndAfterABreak) {
    d.SetSequenceHeader(kHeader);
    Send(true, {0x01, 0xB3, 1});
    Send(true, {0x01, 0xB6, 2});
    // A picture that brings its own header gets no second one, and its header is kept.
    Bytes own = {24, 0x00, 0x04, 0x01, 0xB0, 0x21, 0x22, 0x00, 0x02, 0x01, 0xB3};
    Send(true, own);
    ASSERT_EQ(out.size(), 3u);
    Bytes first = kHeader;
    first.insert(first.end(), {0, 0, 1, 0xB3, 1});
    EXPECT_EQ(out[0].bytes, first);
    EXPECT_EQ(out[1].bytes, (Bytes{0, 0, 1, 0xB6, 2}));
    EXPECT_EQ(out[2].bytes, (Bytes{0, 0, 1, 0xB0, 0x21, 0x22, 0, 0, 1, 0xB3}));
    EXPECT_EQ(d.sequence_header(), (Bytes{0, 0, 1, 0xB0, 0x21, 0x22}));

    // A packet lost inside a picture: that picture is dropped, the next one
    // follows a break and carries the header kept last.
    out.clear();
    Send(false, {0x01, 0xB6, 3});
    Skip(1);
    Send(true, {0x01, 0x00, 4});
    Send(true, {0x01, 0xB6, 5});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, (Bytes{0, 0, 1, 0xB0, 0x21, 0x22, 0, 0, 1, 0xB6, 5}));
    EXPECT_TRUE(out[0].discontinuity);
    EXPECT_EQ(d.pictures_dropped(), 1u);

    // Whole pictures lost between two markers: the next complete one is kept.
    out.clear();
    Skip(3);
    Send(true, {0x01, 0xB6, 6});
    Send(true, {0x01, 0xB6, 7});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].discontinuity);
    EXPECT_EQ(out[0].bytes.size(), 6u + 5u);
    EXPECT_FALSE(out[1].discontinuity);
    EXPECT_EQ(d.pictures_dropped(), 1u);

    // A duplicate changes nothing; the transport's own loss report drops the picture.
    out.clear();
    Send(false, {0x01, 0xB6, 8});
    Send(false, {0x01, 0x00, 8}, 3600, next_ - 1);
    d.MarkLost();
    Send(true, {0x01, 0x00, 9});
    Send(true, {0x01, 0xB3, 10});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, PictureKind::Key);
    EXPECT_EQ(d.pictures_dropped(), 2u);
}

TEST_F(Depacketizer, MalformedPacketsDropOnlyTheirPicture) {
    // Joining in the middle of a picture: nothing until one begins.
    Send(false, {0x01, 0x05, 1});
    Send(true, {28, 0x40, 1});
    // An aggregation unit whose size runs past the payload.
    Send(false, {0x01, 0xB6, 2});
    Send(true, {24, 0x00, 0x02, 0x01, 0x00, 0x00, 0x09, 0x01, 0x01});
    // A fragment without its start, then a start while a unit is still open.
    Send(false, {0x01, 0xB6, 3});
    Send(false, {28, 0x00, 0x01, 3});
    Send(true, {28, 0x40, 3});
    Send(false, {28, 0x80, 0xB3, 4});
    Send(false, {28, 0x80, 0xB3, 5});  // the unit begun above never ended
    Send(true, {28, 0x40, 5});
    // A single unit while a fragmented one is open; a fragment of two bytes.
    Send(false, {28, 0x80, 0xB6, 6});
    Send(true, {0x01, 0x00, 6});
    Send(false, {0x01, 0xB6, 7});
    Send(true, {28});
    Send(true, {0x01, 0xB6, 8});
    // A marker ends a fragmented unit that never got its end bit; a
    // fragment after it without a start is then no continuation.
    Send(true, {28, 0x80, 0xB6, 9});
    Send(true, {28, 0x00, 9});
    Send(true, {0x01, 0xB6, 10});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].bytes, (Bytes{0, 0, 1, 0xB3, 5, 5}));
    EXPECT_TRUE(out[0].discontinuity);
    EXPECT_EQ(out[1].bytes, (Bytes{0, 0, 1, 0xB6, 8}));
    EXPECT_TRUE(out[1].discontinuity);
    EXPECT_EQ(out[2].bytes, (Bytes{0, 0, 1, 0xB6, 9}));
    EXPECT_FALSE(out[2].discontinuity);
    EXPECT_EQ(out[3].bytes, (Bytes{0, 0, 1, 0xB6, 10}));
    EXPECT_TRUE(out[3].discontinuity);
    EXPECT_EQ(d.pictures_dropped(), 5u);
}

TEST_F(Depacketizer, SixteenMegabytePictureIsDroppedAndTheNextOneKept) {
    Bytes fragment(1400, 0x55);
    fragment[0] = 28;
    fragment[1] = 0x80;
    fragment[2] = 0xB3;
    Send(false, fragment, 1000);
    fragment[1] = 0;
    const size_t count = (16u << 20) / 1398;
    for (size_t i = 0; i < count; ++i) Send(false, fragment, 1000);
    fragment[1] = 0x40;
    Send(true, fragment, 1000);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(d.pictures_dropped(), 1u);
    Send(true, {0x01, 0xB6, 1}, 4600);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, (Bytes{0, 0, 1, 0xB6, 1}));
    EXPECT_TRUE(out[0].discontinuity);
    // The largest picture still delivered is bounded by the assembler's cap.
    static_assert(RtpAvsDepacketizer::kMaxPictureBytes < (16u << 20));
}

}  // namespace
