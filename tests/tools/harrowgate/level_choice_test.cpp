#include "tools/harrowgate/level_choice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "tools/harrowgate/block_coder.h"
#include "tools/harrowgate/transform.h"

using namespace harrowgate;

namespace {

// The cost TrimLevels weighs, counted from scratch: the weighted squared distance of each
// coefficient from its level plus lambda times the block's bits (none for an empty block).
double Cost(const Block& levels, const std::array<float, 64>& magnitudes,
            const RunLevelTableSet& tables, double lambda) {
    double norms[8];
    for (int k = 0; k < 8; ++k) {
        norms[k] = 0;
        for (int n = 0; n < 8; ++n) norms[k] += kTransformBasis[k][n] * kTransformBasis[k][n];
    }
    double error = 0;
    bool empty = true;
    for (int p = 0; p < 64; ++p) {
        const double d = magnitudes[p] - std::abs(levels[p]);
        error += norms[p / 8] * norms[p % 8] / (norms[0] * norms[0]) * d * d;
        empty = empty && levels[p] == 0;
    }
    return error + lambda * (empty ? 0 : BlockCoefficientBits(levels, tables));
}

}  // namespace

TEST(LevelChoice, TrimmingOnlyLowersLevelsAndNeverRaisesTheCost) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    const RunLevelTableSet* sets[3] = {&IntraLumaTables(), &InterLumaTables(), &ChromaTables()};
    int changed = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const RunLevelTableSet& tables = *sets[trial % 3];
        // Sparse blocks of small levels, the odd large one, as residuals quantise.
        std::array<float, 64> magnitudes{};
        Block levels{};
        const float density = 0.05f + 0.6f * fraction(random);
        for (int p = 0; p < 64; ++p) {
            if (fraction(random) > density) continue;
            const float x = fraction(random) < 0.1f ? 30 * fraction(random) : 3 * fraction(random);
            magnitudes[p] = x;
            const int level = static_cast<int>(std::floor(x + 0.45f));
            levels[p] = static_cast<int16_t>(fraction(random) < 0.5f ? -level : level);
        }
        const double lambda = trial % 2 ? 0.1 : 0.03;
        Block trimmed = levels;
        TrimLevels(trimmed, magnitudes, tables, lambda);
        for (int p = 0; p < 64; ++p) {
            ASSERT_LE(std::abs(trimmed[p]), std::abs(levels[p])) << trial;
            ASSERT_TRUE(trimmed[p] == 0 || (trimmed[p] > 0) == (levels[p] > 0)) << trial;
        }
        // Each step it takes lowers the cost as the coder counts it, so the whole does.
        ASSERT_LE(Cost(trimmed, magnitudes, tables, lambda),
                  Cost(levels, magnitudes, tables, lambda) + 1e-9)
            << trial;
        changed += trimmed != levels ? 1 : 0;
    }
    // It does trim: the test would pass on a function that did nothing otherwise.
    EXPECT_GT(changed, 1000);
}

TEST(LevelChoice, ALoneFarCoefficientGoesAndALargeOneStays) {
    std::array<float, 64> magnitudes{};
    Block levels{};
    // The DC well above one level, and one just coded far down the scan.
    magnitudes[0] = 6.1f;
    levels[0] = 6;
    magnitudes[63] = 0.75f;
    levels[63] = -1;
    Block trimmed = levels;
    TrimLevels(trimmed, magnitudes, InterLumaTables(), 0.1);
    EXPECT_EQ(trimmed[63], 0);
    EXPECT_EQ(trimmed[0], 6);
    // Alone, that far coefficient leaves the block empty.
    levels[0] = 0;
    magnitudes[0] = 0;
    TrimLevels(levels, magnitudes, InterLumaTables(), 0.1);
    EXPECT_EQ(levels, Block{});
}
