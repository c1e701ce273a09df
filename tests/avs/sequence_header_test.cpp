#include "avs/sequence_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "avs/tables.h"
#include "synthetic_avs.h"

using namespace avs;
namespace syn = avs::synthetic;

TEST(SequenceHeader, MultiplexerDecodeKeepsFieldsUpToBitRate) {
    syn::SequenceFields f;
    f.profile_id = 0x20;
    f.level_id = 0x42;
    f.horizontal_size = 1920;
    f.vertical_size = 1080;
    f.frame_rate_code = 4;
    f.bit_rate_lower = 0;
    f.bit_rate_upper = 1;
    std::vector<uint8_t> unit = syn::SequenceHeader(f);
    AvsSequenceHeader h;
    ASSERT_EQ(decode_sequence_header(unit.data(), unit.size(), h), DecodeResult::kOk);
    EXPECT_EQ(h.profile_id, 0x20);
    EXPECT_EQ(h.level_id, 0x42);
    EXPECT_EQ(h.horizontal_size, 1920);
    EXPECT_EQ(h.vertical_size, 1080);
    EXPECT_EQ(h.frame_rate_code, 4);
    EXPECT_DOUBLE_EQ(h.frame_rate, 30000.0 / 1001.0);
    EXPECT_EQ(h.bit_rate, 262144);

    // Stops after bit_rate_upper: 89 bits (12 bytes) after the start code are enough,
    // one byte less is a failed decode.
    std::vector<uint8_t> cut(unit.begin(), unit.begin() + 4 + 12);
    EXPECT_EQ(decode_sequence_header(cut.data(), cut.size(), h), DecodeResult::kOk);
    cut.pop_back();
    EXPECT_EQ(decode_sequence_header(cut.data(), cut.size(), h), DecodeResult::kTruncated);
    EXPECT_EQ(decode_sequence_header(unit.data(), 4, h), DecodeResult::kTruncated);
    EXPECT_EQ(decode_sequence_header(unit.data(), 2, h), DecodeResult::kTruncated);

    for (int code : {0, 9, 15}) {
        f.frame_rate_code = code;
        std::vector<uint8_t> bad = syn::SequenceHeader(f);
        EXPECT_EQ(decode_sequence_header(bad.data(), bad.size(), h), DecodeResult::kBadFrameRate)
            << code;
    }
}

TEST(SequenceHeader, EmulationBytesAreRemovedBeforeDecoding) {
    // horizontal_size 0 and vertical_size 0 put 00 00 in the header; an encoder would insert
    // 03 after them, and the decode must not see it.
    syn::SequenceFields f;
    f.profile_id = 0;
    f.level_id = 0;
    f.progressive_sequence = 0;
    f.horizontal_size = 0;
    f.vertical_size = 0;
    f.frame_rate_code = 3;
    f.bit_rate_lower = 0x3FFFF;
    std::vector<uint8_t> plain = syn::SequenceHeader(f);
    ASSERT_EQ(plain[4], 0);
    ASSERT_EQ(plain[5], 0);
    std::vector<uint8_t> escaped(plain.begin(), plain.begin() + 6);
    escaped.push_back(3);
    escaped.insert(escaped.end(), plain.begin() + 6, plain.end());
    AvsSequenceHeader a, b;
    ASSERT_EQ(decode_sequence_header(plain.data(), plain.size(), a), DecodeResult::kOk);
    ASSERT_EQ(decode_sequence_header(escaped.data(), escaped.size(), b), DecodeResult::kOk);
    EXPECT_EQ(b.bit_rate, a.bit_rate);
    EXPECT_EQ(b.frame_rate_code, 3);
    EXPECT_EQ(b.vertical_size, a.vertical_size);
}

TEST(SequenceHeader, FixedPositionDecodeForFiltersWithLengthAndBytes) {
    syn::SequenceFields f;
    f.frame_rate_code = 9;
    f.aspect_ratio_information = 3;
    f.low_delay = 1;
    f.bbv_buffer_size = 0x2ABCD;
    f.bit_rate_lower = 0x12345;
    f.bit_rate_upper = 0xABC;
    std::vector<uint8_t> bytes = syn::SequenceHeader(f);
    ASSERT_EQ(bytes.size(), 18u);
    std::vector<uint8_t> with_next = bytes;
    const uint8_t pic[] = {0, 0, 1, 0xB3, 0x00, 0x01, 0x02};
    with_next.insert(with_next.end(), pic, pic + sizeof pic);

    AvsSequenceHeader h;
    h.header_length = 99;
    ASSERT_TRUE(DecodeSequenceHeaderFixed(with_next.data(), with_next.size(), h));
    EXPECT_EQ(h.profile_id, 0x20);
    EXPECT_EQ(h.level_id, 0x40);
    EXPECT_EQ(h.progressive_sequence, 1);
    EXPECT_EQ(h.horizontal_size, 352);
    EXPECT_EQ(h.vertical_size, 288);
    EXPECT_EQ(h.chroma_format, 1);
    EXPECT_EQ(h.sample_precision, 1);
    EXPECT_EQ(h.aspect_ratio_information, 3);
    EXPECT_EQ(h.frame_rate_code, 9);
    EXPECT_EQ(h.frame_rate, 15.0);
    EXPECT_EQ(h.bit_rate, 0x12345 + 0xABC * 0x40000);
    EXPECT_EQ(h.low_delay, 1);
    EXPECT_EQ(h.bbv_buffer_size, 0x2ABCD);
    EXPECT_EQ(h.header_length, 18);
    EXPECT_EQ(0, memcmp(h.header_bytes, bytes.data(), 18));
    EXPECT_EQ(h.header_bytes[18], 0);

    // No further prefix: all bytes; a long header keeps only 140 bytes.
    std::vector<uint8_t> long_header = bytes;
    long_header.resize(300, 0x55);
    ASSERT_TRUE(DecodeSequenceHeaderFixed(long_header.data(), long_header.size(), h));
    EXPECT_EQ(h.header_length, 300);
    EXPECT_EQ(h.header_bytes[139], 0x55);

    // Short input: no read beyond it, fields beyond it are zero.
    EXPECT_FALSE(DecodeSequenceHeaderFixed(bytes.data(), 10, h));
    EXPECT_EQ(h.header_length, 10);
    EXPECT_EQ(h.profile_id, 0x20);
    EXPECT_EQ(h.bbv_buffer_size, 0);
    EXPECT_FALSE(DecodeSequenceHeaderFixed(nullptr, 0, h));
    EXPECT_EQ(h.header_length, 0);

    // The single-precision rates the filters use, not the quotients.
    EXPECT_EQ(kFilterFrameRateTable[1], 23.976f);
    EXPECT_EQ(kFilterFrameRateTable[7], 59.94f);
    EXPECT_EQ(kFilterFrameRateTable[0], 0.0f);
    EXPECT_EQ(kFilterFrameRateTable[10], 0.0f);
    EXPECT_EQ(kFrameTimeTable[9], 666666);
    EXPECT_EQ(kPelAspectTable[14], 473030);
}
