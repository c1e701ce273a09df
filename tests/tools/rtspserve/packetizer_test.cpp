#include "tools/rtspserve/packetizer.h"

#include <gtest/gtest.h>

#include <random>

#include "rtspstream/frame_assembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Payload {
    Bytes bytes;
    bool last;
};

std::vector<Payload> Packetize(const Bytes& picture, size_t max_payload) {
    std::vector<Payload> out;
    rtspserve::PacketizePicture(picture.data(), picture.size(), max_payload,
                                [&](const uint8_t* p, size_t n, bool last) {
                                    out.push_back({Bytes(p, p + n), last});
                                });
    return out;
}

Bytes Unit(uint8_t code, size_t body, uint8_t fill) {
    Bytes u = {0, 0, 1, code};
    u.insert(u.end(), body, fill);
    return u;
}

TEST(Packetizer, FormsChosenBySize) {
    // Two small units, one that fits alone, one that needs three fragments.
    Bytes picture;
    for (const Bytes& u :
         {Unit(0xB0, 10, 0x11), Unit(0xB3, 20, 0x22), Unit(0x00, 90, 0x33), Unit(0x01, 250, 0x44)})
        picture.insert(picture.end(), u.begin(), u.end());
    std::vector<Payload> p = Packetize(picture, 100);
    ASSERT_EQ(p.size(), 5u);
    // [24, size, type, unit...] twice.
    EXPECT_EQ(p[0].bytes[0], 24);
    EXPECT_EQ(p[0].bytes[1], 0);
    EXPECT_EQ(p[0].bytes[2], 12);  // type byte + B0 + 10 bytes
    EXPECT_EQ(p[0].bytes[4], 0xB0);
    EXPECT_EQ(p[0].bytes.size(), 1u + 2 + 12 + 2 + 22);
    EXPECT_EQ(p[1].bytes[0], 1);
    EXPECT_EQ(p[1].bytes[1], 0x00);
    EXPECT_EQ(p[1].bytes.size(), 92u);
    EXPECT_EQ(p[2].bytes[0], 28);
    EXPECT_EQ(p[2].bytes[1], 0x80);
    EXPECT_EQ(p[2].bytes[2], 0x01);
    EXPECT_EQ(p[3].bytes[1], 0x00);
    EXPECT_EQ(p[4].bytes[1], 0x40);
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_LE(p[i].bytes.size(), 100u);
        EXPECT_EQ(p[i].last, i + 1 == p.size());
    }
}

// What the server cuts, the receive side puts back together byte for byte.
TEST(Packetizer, RoundTripThroughTheAssembler) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes picture;
        int units = 1 + rng() % 12;
        for (int u = 0; u < units; ++u) {
            size_t body = rng() % 4 == 0 ? rng() % 5000 : rng() % 60;
            Bytes unit = Unit(static_cast<uint8_t>(0xB0 + rng() % 8), body, 0);
            for (size_t k = 4; k < unit.size(); ++k)
                unit[k] = static_cast<uint8_t>(2 + rng() % 200);
            picture.insert(picture.end(), unit.begin(), unit.end());
        }
        size_t max_payload = 16 + rng() % 1500;
        rtspstream::FrameAssembler assembler;
        for (const Payload& p : Packetize(picture, max_payload)) {
            ASSERT_LE(p.bytes.size(), max_payload);
            ASSERT_TRUE(assembler.Add(p.bytes.data(), p.bytes.size()));
        }
        ASSERT_EQ(Bytes(assembler.Data(), assembler.Data() + assembler.Length()), picture) << round;
        EXPECT_TRUE(assembler.ExpectFragmentStart());
    }
}

TEST(Packetizer, SplitUnitsSkipsLeadingBytes) {
    Bytes b = {9, 9, 0, 0, 1, 0xB3, 5, 0, 0, 0, 1, 0x00};
    auto units = rtspserve::SplitUnits(b.data(), b.size());
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0],
              (std::pair<size_t, size_t>{5, 3}));  // B3 5 0 (a zero before the next prefix)
    EXPECT_EQ(units[1], (std::pair<size_t, size_t>{11, 1}));
    EXPECT_TRUE(rtspserve::SplitUnits(b.data(), 2).empty());
}

}  // namespace
