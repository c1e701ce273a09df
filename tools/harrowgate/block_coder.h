#pragma once

#include <array>
#include <cstdint>

#include "tools/harrowgate/bit_writer.h"
#include "tools/harrowgate/vlc_tables.h"

namespace harrowgate {

// Zig-zag scan order of an 8x8 block (scan index -> raster index row*8+col).
extern const std::array<uint8_t, 64> kZigZag;

// Writes the quantised coefficients of one 8x8 block (raster order) with the adaptive 2D-VLC:
// (level, run) pairs from the last non-zero coefficient back to the first, then end-of-block.
void WriteBlockCoefficients(BitWriter& out, const std::array<int16_t, 64>& levels,
                            const RunLevelTableSet& tables);
// The number of bits WriteBlockCoefficients writes for these levels.
int BlockCoefficientBits(const std::array<int16_t, 64>& levels, const RunLevelTableSet& tables);

// Prices the (level, run) pairs of a block one by one as WriteBlockCoefficients codes them,
// for choosing levels without coding the whole block again. Pairs are coded from the last
// in scan order back, each in a table that the magnitudes coded before it select.
class CoefficientPricer {
  public:
    explicit CoefficientPricer(const RunLevelTableSet& tables);
    // Bits of a pair (`run`: the zeros before the coefficient plus one) in table `table`.
    int PairBits(int table, int level, int run) const {
        const int magnitude = level < 0 ? -level : level;
        if (lengths_ != nullptr && magnitude < kPricedLevels) {
            const int bits = lengths_[table].bits[magnitude][run][level < 0 ? 1 : 0];
            if (bits != 0) return bits;
        }
        return SlowPairBits(table, level, run);
    }
    // The table of the pair after one of |level| `magnitude` coded in `table`.
    int NextTable(int table, int magnitude) const {
        while (table + 1 < tables_.count && magnitude > tables_.tables[table].switch_limit) ++table;
        return table;
    }
    int EndOfBlockBits(int table) const;

    // PairBits of one table's pairs with |level| below kPricedLevels, worked out once for the
    // three sets the coder uses.
    static constexpr int kPricedLevels = 32;
    struct PairLengths {
        uint8_t bits[kPricedLevels][65][2];  // [|level|][run][negative]
    };

  private:
    int SlowPairBits(int table, int level, int run) const;

    const RunLevelTableSet& tables_;
    const PairLengths* lengths_ = nullptr;
};

}  // namespace harrowgate
