#include "tools/harrowgate/level_choice.h"

#include <cstdlib>

#include "tools/harrowgate/block_coder.h"

namespace harrowgate {
namespace {

// The squared error a unit of level at each position puts into the decoded block, relative
// to the DC's: the basis rows' squared norms differ (512, 442, 464, ...).
const std::array<double, 64>& PositionWeights() {
    static const std::array<double, 64> kWeights = [] {
        std::array<double, 64> w{};
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 8; ++k)
                w[i * 8 + k] = BasisNorm(i) * BasisNorm(k) / (BasisNorm(0) * BasisNorm(0));
        return w;
    }();
    return kWeights;
}

// Bounds on the bits one step down can save: generous, as a bound that is too low would
// only keep a level that was not worth its bits.
constexpr double kMostBitsDropped = 24;
constexpr double kMostBitsLowered = 8;

double Squared(double v) {
    return v * v;
}

}  // namespace

void TrimLevels(Block& levels, const std::array<float, 64>& magnitudes,
                const RunLevelTableSet& tables, double lambda) {
    const std::array<double, 64>& weights = PositionWeights();
    const CoefficientPricer pricer(tables);
    // The block's pairs in scan order: position, level, run (zeros before it plus one).
    int position[64], level[64], run[64];
    int count = 0, zeros = 0;
    for (int s = 0; s < 64; ++s) {
        const int p = kZigZag[s];
        if (levels[p] == 0) {
            ++zeros;
            continue;
        }
        position[count] = p;
        level[count] = levels[p];
        run[count++] = zeros + 1;
        zeros = 0;
    }
    if (count == 0) return;
    // table[i]: the table pair i is coded in. Pairs are coded from the last one back, so a
    // change at pair i leaves the tables of the pairs after it in scan order alone.
    int table[64];
    table[count - 1] = 0;
    for (int i = count - 1; i > 0; --i)
        table[i - 1] = pricer.NextTable(table[i], std::abs(level[i]));
    // Bits from pair `from` back to the first and the end of the block, pair `from` coded in
    // table `start` with `first_level` (0: left out).
    const auto tail_bits = [&](int from, int start, int first_level) {
        int bits = 0, t = start;
        if (first_level != 0) {
            bits += pricer.PairBits(t, first_level, run[from]);
            t = pricer.NextTable(t, std::abs(first_level));
        }
        for (int k = from - 1; k >= 0; --k) {
            bits += pricer.PairBits(t, level[k], run[k]);
            t = pricer.NextTable(t, std::abs(level[k]));
        }
        return bits + pricer.EndOfBlockBits(t);
    };
    int bits = tail_bits(count - 1, 0, level[count - 1]);

    // From the last coefficient in scan order back: the far ones are the dearest.
    for (int i = count - 1; i >= 0; --i) {
        const int magnitude = std::abs(level[i]);
        const double x = magnitudes[position[i]];
        const double added_error =
            weights[position[i]] * (Squared(x - (magnitude - 1)) - Squared(x - magnitude));
        // Skip where even the most a step down could save would not pay for the error.
        if (added_error > lambda * (magnitude == 1 ? kMostBitsDropped : kMostBitsLowered)) continue;
        const int lowered = level[i] > 0 ? level[i] - 1 : level[i] + 1;
        const int next_table = pricer.NextTable(table[i], magnitude);
        int change;  // in bits
        if (lowered == 0 && count == 1) {
            change = -bits;
        } else if (lowered != 0) {
            change = pricer.NextTable(table[i], magnitude - 1) == next_table
                         // The pairs before keep their tables: only this pair's code changes.
                         ? pricer.PairBits(table[i], lowered, run[i]) -
                               pricer.PairBits(table[i], level[i], run[i])
                         : tail_bits(i, table[i], lowered) - tail_bits(i, table[i], level[i]);
        } else {
            // Dropped, its run joins that of the pair after it in scan order (coded before
            // it), and the pairs before it are coded from its table on.
            const int head =
                i + 1 < count ? pricer.PairBits(table[i + 1], level[i + 1], run[i + 1] + run[i]) -
                                    pricer.PairBits(table[i + 1], level[i + 1], run[i + 1])
                              : 0;
            change = head + (next_table == table[i]
                                 ? -pricer.PairBits(table[i], level[i], run[i])
                                 : tail_bits(i, table[i], 0) - tail_bits(i, table[i], level[i]));
        }
        if (added_error + lambda * change >= 0) continue;
        bits += change;
        int changed_from = i;  // the pair whose table the ones before it follow
        if (lowered != 0) {
            level[i] = lowered;
        } else {
            // Pair i goes; its run joins the pair after it, coded before it.
            if (i + 1 < count) run[i + 1] += run[i];
            if (count == 1) {
                levels.fill(0);
                return;
            }
            const int own_table = table[i];
            for (int k = i; k + 1 < count; ++k) {
                position[k] = position[k + 1];
                level[k] = level[k + 1];
                run[k] = run[k + 1];
                table[k] = table[k + 1];
            }
            --count;
            // The pairs before it now start in its table.
            if (i == 0) continue;
            table[i - 1] = own_table;
            changed_from = i - 1;
        }
        for (int k = changed_from; k > 0; --k)
            table[k - 1] = pricer.NextTable(table[k], std::abs(level[k]));
    }
    Block trimmed{};
    for (int i = 0; i < count; ++i) trimmed[position[i]] = static_cast<int16_t>(level[i]);
    levels = trimmed;
    // The whole block against nothing at all (which saves its bits and its coded-block flag).
    double added_error = 0;
    for (int i = 0; i < count; ++i)
        added_error +=
            weights[position[i]] * (Squared(magnitudes[position[i]]) -
                                    Squared(magnitudes[position[i]] - std::abs(level[i])));
    if (added_error - lambda * (bits + 1) < 0) levels.fill(0);
}

}  // namespace harrowgate
