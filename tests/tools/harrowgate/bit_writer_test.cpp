#include "bit_writer.h"

#include <gtest/gtest.h>

#include "bit_reader_for_tests.h"

using harrowgate::BitWriter;
using harrowgate::contains_start_code_prefix;
using harrowgate_test::BitReader;

TEST(BitWriter, ExpGolombCodesReadBackAcrossByteBoundaries) {
    BitWriter w;
    const uint32_t unsigned_values[] = {0, 1, 2, 3, 7, 8, 255, 65534, 1u << 20, 0xFFFFFFFEu};
    const int32_t signed_values[] = {0, 1, -1, 2, -2, 1000, -1000};
    w.put_bits(5, 3);  // start unaligned
    for (uint32_t v : unsigned_values) w.put_ue(v);
    for (int32_t v : signed_values) w.put_se(v);
    for (int order = 0; order <= 3; ++order) w.put_ue_k(13, order);
    w.put_bits(0xDEADBEEF, 32);
    w.stuff_to_byte();
    const std::vector<uint8_t> bytes = w.take();

    BitReader r(bytes);
    EXPECT_EQ(r.bits(3), 5u);
    for (uint32_t v : unsigned_values) EXPECT_EQ(r.ue(), v);
    for (int32_t v : signed_values) EXPECT_EQ(r.se(), v);
    for (int order = 0; order <= 3; ++order) EXPECT_EQ(r.ue_k(order), 13u);
    EXPECT_EQ(r.bits(32), 0xDEADBEEFu);
    EXPECT_EQ(r.bits(1), 1u);  // the stuffing bit
    EXPECT_EQ(r.position() % 8 == 0 ? 0u : r.bits(8 - static_cast<int>(r.position() % 8)), 0u);
    EXPECT_EQ(r.position(), bytes.size() * 8);
}

TEST(BitWriter, KnownCodesAndStuffing) {
    BitWriter w;
    w.put_ue(0);   // 1
    w.put_ue(3);   // 00100
    w.put_se(-1);  // 011
    w.stuff_to_byte();
    // 1 00100 01 | 1 + stuffing 1 0000 00
    EXPECT_EQ(w.take(), (std::vector<uint8_t>{0x91, 0xC0}));

    // Already aligned: a whole stuffing byte, so a reader always finds a 1 bit before the
    // next start code.
    w.put_bits(0xAB, 8);
    w.stuff_to_byte();
    EXPECT_EQ(w.take(), (std::vector<uint8_t>{0xAB, 0x80}));
}

TEST(BitWriter, StartCodeOnlyWhenAligned) {
    BitWriter w;
    w.put_start_code(0xB3);
    EXPECT_EQ(w.bytes(), (std::vector<uint8_t>{0, 0, 1, 0xB3}));
    w.put_bit(true);
    EXPECT_THROW(w.put_start_code(0xB6), std::logic_error);
    EXPECT_THROW(w.take(), std::logic_error);
}

TEST(StartCodePrefix, FindsPrefixesAndTripleZeros) {
    const uint8_t clean[] = {0x00, 0x00, 0x02, 0x00, 0x80, 0x00, 0x00};
    const uint8_t prefix[] = {0x12, 0x00, 0x00, 0x01, 0x34};
    const uint8_t zeros[] = {0x12, 0x00, 0x00, 0x00, 0x34};
    EXPECT_FALSE(contains_start_code_prefix(clean, sizeof clean));
    EXPECT_TRUE(contains_start_code_prefix(prefix, sizeof prefix));
    EXPECT_TRUE(contains_start_code_prefix(zeros, sizeof zeros));
    EXPECT_FALSE(contains_start_code_prefix(prefix, 3));
}
