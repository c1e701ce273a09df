#include "avs/start_code.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using avs::find_start_code;
using avs::remove_emulation_bytes;

TEST(StartCode, SearchSkipsLeadingPrefixAndLastThreeBytes) {
    std::vector<uint8_t> a{0xAA, 0xBB, 0, 0, 1, 0xB3, 0x11, 0x22};
    EXPECT_EQ(find_start_code(a.data(), a.size()), 2u);
    // A prefix at offset 0 is skipped and the next one found.
    std::vector<uint8_t> b{0, 0, 1, 0xB0, 0x12, 0, 0, 1, 0xB3, 0x00, 0x00, 0x00};
    EXPECT_EQ(find_start_code(b.data(), b.size()), 5u);
    // The prefix whose 01 byte is among the last three bytes is not found.
    std::vector<uint8_t> c{0x55, 0x55, 0, 0, 1, 0xB1, 0x00};
    EXPECT_EQ(find_start_code(c.data(), c.size()), 0u);
    std::vector<uint8_t> d{0x55, 0x55, 0, 0, 1, 0xB1, 0x00, 0x00};
    EXPECT_EQ(find_start_code(d.data(), d.size()), 2u);
    // Short ranges never match; 00 00 00 01 reports the 00 00 01 part.
    EXPECT_EQ(find_start_code(a.data(), 3), 0u);
    std::vector<uint8_t> e{0x12, 0, 0, 0, 1, 0xB6, 0x40, 0x00};
    EXPECT_EQ(find_start_code(e.data(), e.size()), 2u);
    EXPECT_EQ(find_start_code(nullptr, 0), 0u);
}

TEST(StartCode, EmulationBytesDroppedExceptNearTheEnd) {
    std::vector<uint8_t> in{0x11, 0, 0, 3, 0x22, 0, 0, 3, 0x01, 0, 0, 3};
    std::vector<uint8_t> out(in.size());
    size_t n = remove_emulation_bytes(in.data(), in.size(), out.data(), out.size());
    out.resize(n);
    // The last triple has only three bytes left to the end, so its 03 stays.
    EXPECT_EQ(out, (std::vector<uint8_t>{0x11, 0, 0, 0x22, 0, 0, 0x01, 0, 0, 3}));
    // Output capacity is respected.
    std::vector<uint8_t> small(2);
    EXPECT_EQ(remove_emulation_bytes(in.data(), in.size(), small.data(), small.size()), 2u);
    // 00 00 00 03: the triple starts at the second zero.
    std::vector<uint8_t> z{0, 0, 0, 3, 0x7F};
    std::vector<uint8_t> zo(z.size());
    zo.resize(remove_emulation_bytes(z.data(), z.size(), zo.data(), zo.size()));
    EXPECT_EQ(zo, (std::vector<uint8_t>{0, 0, 0, 0x7F}));
}

TEST(StartCode, FastSearchMatchesTheByteWindowOnRandomData) {
    // The search written as the 24-bit window it is defined by.
    auto window_search = [](const uint8_t* b, size_t length) -> uint32_t {
        size_t offset = 0;
        if (length >= 3 && b[0] == 0 && b[1] == 0 && b[2] == 1) offset = 3;
        uint32_t window = 0xFFFFFF;
        while (length >= 3 && offset < length - 3) {
            window = ((window << 8) | b[offset++]) & 0xFFFFFF;
            if (window == 1) return static_cast<uint32_t>(offset - 3);
        }
        return 0;
    };
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> v(rng() % 40);
        for (uint8_t& b : v) {
            uint32_t r = rng() % 8;
            b = r < 4 ? 0 : r < 6 ? 1 : static_cast<uint8_t>(rng());
        }
        ASSERT_EQ(find_start_code(v.data(), v.size()), window_search(v.data(), v.size()))
            << "round " << round;
    }
}
