#include "tools/harrowgate/bit_writer.h"

#include <gtest/gtest.h>

#include "bit_reader_for_tests.h"

using harrowgate::BitWriter;
using harrowgate::ContainsStartCodePrefix;
using harrowgate_test::BitReader;

TEST(BitWriter, ExpGolombCodesReadBackAcrossByteBoundaries) {
    BitWriter w;
    const uint32_t unsigned_values[] = {0, 1, 2, 3, 7, 8, 255, 65534, 1u << 20, 0xFFFFFFFEu};
    const int32_t signed_values[] = {0, 1, -1, 2, -2, 1000, -1000};
    w.PutBits(5, 3);  // start unaligned
    for (uint32_t v : unsigned_values) w.PutUe(v);
    for (int32_t v : signed_values) w.PutSe(v);
    for (int order = 0; order <= 3; ++order) w.PutUeK(13, order);
    w.PutBits(0xDEADBEEF, 32);
    w.StuffToByte();
    const std::vector<uint8_t> bytes = w.Take();

    BitReader r(bytes);
    EXPECT_EQ(r.Bits(3), 5u);
    for (uint32_t v : unsigned_values) EXPECT_EQ(r.Ue(), v);
    for (int32_t v : signed_values) EXPECT_EQ(r.Se(), v);
    for (int order = 0; order <= 3; ++order) EXPECT_EQ(r.UeK(order), 13u);
    EXPECT_EQ(r.Bits(32), 0xDEADBEEFu);
    EXPECT_EQ(r.Bits(1), 1u);  // the stuffing bit
    EXPECT_EQ(r.Position() % 8 == 0 ? 0u : r.Bits(8 - static_cast<int>(r.Position() % 8)), 0u);
    EXPECT_EQ(r.Position(), bytes.size() * 8);
}

TEST(BitWriter, KnownCodesAndStuffing) {
    BitWriter w;
    w.PutUe(0);   // 1
    w.PutUe(3);   // 00100
    w.PutSe(-1);  // 011
    w.StuffToByte();
    // 1 00100 01 | 1 + stuffing 1 0000 00
    EXPECT_EQ(w.Take(), (std::vector<uint8_t>{0x91, 0xC0}));

    // Already aligned: a whole stuffing byte, so a reader always finds a 1 bit before the
    // next start code.
    w.PutBits(0xAB, 8);
    w.StuffToByte();
    EXPECT_EQ(w.Take(), (std::vector<uint8_t>{0xAB, 0x80}));
}

TEST(BitWriter, StartCodeOnlyWhenAligned) {
    BitWriter w;
    w.PutStartCode(0xB3);
    EXPECT_EQ(w.Bytes(), (std::vector<uint8_t>{0, 0, 1, 0xB3}));
    w.PutBit(true);
    EXPECT_THROW(w.PutStartCode(0xB6), std::logic_error);
    EXPECT_THROW(w.Take(), std::logic_error);
}

TEST(StartCodePrefix, FindsPrefixesAndTripleZeros) {
    const uint8_t clean[] = {0x00, 0x00, 0x02, 0x00, 0x80, 0x00, 0x00};
    const uint8_t prefix[] = {0x12, 0x00, 0x00, 0x01, 0x34};
    const uint8_t zeros[] = {0x12, 0x00, 0x00, 0x00, 0x34};
    EXPECT_FALSE(ContainsStartCodePrefix(clean, sizeof clean));
    EXPECT_TRUE(ContainsStartCodePrefix(prefix, sizeof prefix));
    EXPECT_TRUE(ContainsStartCodePrefix(zeros, sizeof zeros));
    EXPECT_FALSE(ContainsStartCodePrefix(prefix, 3));
}

TEST(BitWriter, AppendJoinsBitsAtAnyAlignment) {
    // Rows coded apart and joined must equal the same codes written in one go.
    for (int lead = 0; lead < 9; ++lead) {
        BitWriter whole, first, second;
        whole.PutBits(0x1FF, lead);
        first.PutBits(0x1FF, lead);
        for (uint32_t v = 0; v < 40; ++v) {
            whole.PutUe(v * 7);
            second.PutUe(v * 7);
        }
        first.Append(second);
        first.StuffToByte();
        whole.StuffToByte();
        EXPECT_EQ(first.Take(), whole.Take()) << "lead " << lead;
    }
}

TEST(BitWriter, HigherOrderCodesOfEveryLengthReadBack) {
    // Codes up to 32 bits go out in one write, longer ones in pieces: both read back.
    BitWriter w;
    std::vector<std::pair<uint32_t, int>> codes;
    for (int order = 0; order <= 5; ++order)
        for (int bits = 0; bits <= 31; ++bits)
            for (uint32_t offset : {0u, 1u, 3u})
                if (offset < (1u << bits)) codes.emplace_back((1u << bits) - 1u - offset, order);
    w.PutBits(1, 1);
    for (const auto& [value, order] : codes) w.PutUeK(value, order);
    w.StuffToByte();
    const std::vector<uint8_t> bytes = w.Take();
    BitReader r(bytes);
    EXPECT_EQ(r.Bits(1), 1u);
    for (const auto& [value, order] : codes) ASSERT_EQ(r.UeK(order), value) << order;
}

TEST(BitWriter, CodeLengthsAreTheWrittenLengths) {
    for (int64_t v = -70000; v <= 70000; v += v > -300 && v < 300 ? 1 : 997) {
        BitWriter se;
        se.PutSe(static_cast<int32_t>(v));
        EXPECT_EQ(harrowgate::SeLength(static_cast<int32_t>(v)), static_cast<int>(se.BitPosition()))
            << v;
        if (v < 0) continue;
        BitWriter ue;
        ue.PutUe(static_cast<uint32_t>(v));
        EXPECT_EQ(harrowgate::UeLength(static_cast<uint32_t>(v)),
                  static_cast<int>(ue.BitPosition()))
            << v;
    }
}
