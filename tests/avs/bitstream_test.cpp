#include "avs/bitstream.h"

#include <gtest/gtest.h>

#include <string>

using avs::Bitstream;
using avs::BitstreamError;

TEST(Bitstream, ReadsMsbFirstAcrossBytesAndRefusesOverrun) {
    const uint8_t bytes[] = {0xA5, 0x3C, 0xFF, 0x00, 0x81};
    Bitstream bs(bytes, 40);
    EXPECT_EQ(bs.get_bits(0), 0u);
    EXPECT_EQ(bs.get_bits(3), 0x5u);
    EXPECT_EQ(bs.get_bits(7), 0x14u);  // 00101 00
    EXPECT_EQ(bs.BitsRemain(), 30u);
    EXPECT_EQ(bs.PeekBits(6), 0x3Cu);
    EXPECT_EQ(bs.BitsRemain(), 30u);
    EXPECT_EQ(bs.get_bits(30), 0x3CFF0081u);
    try {
        bs.get_bits(1);
        FAIL() << "read past the end";
    } catch (const BitstreamError& e) {
        EXPECT_EQ(e.ErrorKind(), BitstreamError::Kind::kPastEnd);
    }
    // Callers that only know std::exception still see the failure, with a reason.
    try {
        bs.get_bits(1);
        FAIL() << "read past the end";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("past the end"), std::string::npos);
    }
    Bitstream b2(bytes, 40);
    try {
        b2.get_bits(33);
        FAIL() << "33 bits in one read";
    } catch (const BitstreamError& e) {
        EXPECT_EQ(e.ErrorKind(), BitstreamError::Kind::kTooManyBits);
    }
    // A bit count shorter than the bytes is honoured.
    Bitstream b3(bytes, 4);
    EXPECT_THROW(b3.get_bits(5), BitstreamError);
    EXPECT_EQ(b3.get_bits(4), 0xAu);
}

TEST(Bitstream, BookmarkRestoresSavedPosition) {
    const uint8_t bytes[] = {0x12, 0x34};
    Bitstream bs(bytes, 16);
    bs.get_bits(4);
    bs.Bookmark(true);
    EXPECT_EQ(bs.get_bits(8), 0x23u);
    bs.Bookmark(false);
    EXPECT_EQ(bs.get_bits(12), 0x234u);
}

TEST(Bitstream, ExpGolombCodesIncludingLongPrefixesAndFailures) {
    // 1 -> 0, 010 -> 1, 011 -> 2, 00100 -> 3, 0001000 -> 7
    const uint8_t small[] = {0b10100110, 0b01000001, 0b00000000};
    Bitstream bs(small, 24);
    EXPECT_EQ(bs.read_ue(), 0u);
    EXPECT_EQ(bs.read_ue(), 1u);
    EXPECT_EQ(bs.read_ue(), 2u);
    EXPECT_EQ(bs.read_ue(), 3u);
    EXPECT_EQ(bs.read_ue(), 7u);

    // 20 leading zeros: the prefix spans several 8-bit peeks.
    const uint8_t mid[] = {0x00, 0x00, 0x08, 0x00, 0x01, 0x00};
    Bitstream b2(mid, 48);
    EXPECT_EQ(b2.read_ue(), (1u << 20) + 1);  // info bits 0...010

    // 31 zeros then 1 and 31 more bits: the largest code that fits one read.
    const uint8_t big[] = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
    Bitstream b3(big, 64);
    EXPECT_EQ(b3.read_ue(), 0xFFFFFFFEu);

    // 32 zeros: asks for 33 bits.
    const uint8_t huge[] = {0x00, 0x00, 0x00, 0x00, 0x80, 0, 0, 0, 0};
    Bitstream b4(huge, 72);
    try {
        b4.read_ue();
        FAIL();
    } catch (const BitstreamError& e) {
        EXPECT_EQ(e.ErrorKind(), BitstreamError::Kind::kTooManyBits);
    }

    // Only zeros: no 1 bit before the end; a 1 among the last few bits is still found.
    const uint8_t zeros[] = {0x00, 0x00};
    Bitstream b5(zeros, 16);
    EXPECT_THROW(b5.read_ue(), BitstreamError);
    const uint8_t tail[] = {0x00, 0x04};  // 13 zeros, 1, then bits run out
    Bitstream b6(tail, 16);
    EXPECT_THROW(b6.read_ue(), BitstreamError);
    const uint8_t four[] = {0x18};  // 000 11 000: 3 zeros, needs 4 bits -> 0b1100 - 1
    Bitstream b8(four, 7);
    EXPECT_EQ(b8.read_ue(), 0b1100u - 1);
}
