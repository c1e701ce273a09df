#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "bit_reader_for_tests.h"
#include "tools/harrowgate/block_coder.h"
#include "tools/harrowgate/transform.h"
#include "tools/harrowgate/vlc_tables.h"

using namespace harrowgate;
using harrowgate_test::BitReader;

namespace {

// Decodes one block the way the decoder does: codes are looked up in the current table,
// escapes add the table's offset, |level| above the table's limit moves to a later table,
// pairs are applied from the last decoded back to the first.
Block DecodeBlock(BitReader& r, const RunLevelTableSet& set) {
    int table = 0;
    int levels[65];
    int runs[65];
    int count = 0;
    for (;;) {
        const RunLevelTable& t = set.tables[table];
        const int code = static_cast<int>(r.UeK(t.golomb_order));
        int level = 0;
        int run = 0;
        if (code >= kEscapeCode) {
            run = ((code - kEscapeCode) >> 1) + 1;
            const int escaped = static_cast<int>(r.UeK(set.escape_golomb_order));
            level = escaped + (run > t.max_run ? 1 : t.escape_offset[run]);
            if ((code & 1) != 0) level = -level;
        } else {
            if (code == t.end_of_block_code) break;
            const int slot = code < t.end_of_block_code ? code : code - 1;
            level = t.pairs[slot / 2][0];
            run = t.pairs[slot / 2][1];
            if (slot % 2) level = -level;
        }
        if (count == 64) throw std::runtime_error("no end of block");
        levels[count] = level;
        runs[count] = run;
        ++count;
        while (std::abs(level) > set.tables[table].switch_limit) ++table;
    }
    Block block{};
    int position = -1;
    for (int i = count - 1; i >= 0; --i) {
        position += runs[i];
        if (position > 63) throw std::runtime_error("past the block");
        block[kZigZag[position]] = static_cast<int16_t>(levels[i]);
    }
    return block;
}

std::vector<uint8_t> Encode(const Block& block, const RunLevelTableSet& set) {
    BitWriter w;
    WriteBlockCoefficients(w, block, set);
    w.StuffToByte();
    return w.Take();
}

}  // namespace

TEST(CoefficientCoding, DcOnlyBlockHasKnownCode) {
    Block block{};
    block[0] = 1;
    // (1, run 1) is code 0 of the first intra table: order-2 Golomb "1 00"; level 1 moves to
    // the second table, whose end-of-block is code 8: "011 00". Then the stuffing bit.
    EXPECT_EQ(Encode(block, IntraLumaTables()), (std::vector<uint8_t>{0x8C, 0x80}));
}

TEST(CoefficientCoding, TableEntriesAreConsistent) {
    // Every pair must be decodable back to itself, and no pair may appear twice in a table.
    for (const RunLevelTableSet* set : {&IntraLumaTables(), &InterLumaTables(), &ChromaTables()}) {
        for (int t = 0; t < set->count; ++t) {
            const RunLevelTable& table = set->tables[t];
            for (int a = 0; a < 29; ++a) {
                for (int b = a + 1; b < 29; ++b) EXPECT_NE(table.pairs[a], table.pairs[b]);
                const int level = table.pairs[a][0];
                const int run = table.pairs[a][1];
                // A pair in the table has a level below the escape offset for its run.
                if (run <= table.max_run) {
                    EXPECT_LT(level, table.escape_offset[run]) << t;
                }
            }
            if (t > 0) {
                EXPECT_GT(table.switch_limit, set->tables[t - 1].switch_limit);
            }
        }
    }
}

TEST(CoefficientCoding, RandomBlocksRoundTrip) {
    std::mt19937 random(7);
    for (const RunLevelTableSet* set : {&IntraLumaTables(), &InterLumaTables(), &ChromaTables()}) {
        for (int trial = 0; trial < 3000; ++trial) {
            Block block{};
            const int density = 1 + static_cast<int>(random() % 64);
            const int largest = trial % 3 == 0 ? 2000 : (trial % 3 == 1 ? 30 : 3);
            for (int i = 0; i < 64; ++i)
                if (static_cast<int>(random() % 64) < density) {
                    int v = 1 + static_cast<int>(random() % largest);
                    block[i] = static_cast<int16_t>(random() % 2 ? v : -v);
                }
            const std::vector<uint8_t> bytes = Encode(block, *set);
            BitReader r(bytes);
            ASSERT_EQ(DecodeBlock(r, *set), block) << "trial " << trial;
            EXPECT_EQ(r.Bits(1), 1u);  // stuffing follows directly
        }
    }
}

TEST(CoefficientCoding, IntraCbpCodesCoverEveryPattern) {
    std::vector<bool> seen(64, false);
    for (int cbp = 0; cbp < 64; ++cbp) {
        const int code = IntraCbpCode(cbp);
        ASSERT_GE(code, 0);
        ASSERT_LT(code, 64);
        EXPECT_FALSE(seen[code]);
        seen[code] = true;
    }
    EXPECT_EQ(IntraCbpCode(63), 0);  // everything coded is the shortest code
    EXPECT_THROW(IntraCbpCode(64), std::invalid_argument);
}
