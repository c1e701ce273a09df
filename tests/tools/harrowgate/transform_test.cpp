#include "tools/harrowgate/transform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace harrowgate;

namespace {

int ReconstructError(const std::array<int, 64>& residual, int base, int qp) {
    const Block levels = QuantiseResidual(residual, qp, 0.5);
    uint8_t samples[64];
    for (int i = 0; i < 64; ++i) samples[i] = static_cast<uint8_t>(base);
    AddDequantisedBlock(levels, qp, samples, 8);
    int worst = 0;
    for (int i = 0; i < 64; ++i)
        worst = std::max(worst, std::abs(samples[i] - std::clamp(base + residual[i], 0, 255)));
    return worst;
}

}  // namespace

TEST(Transform, FlatResidualIsOneDcLevel) {
    std::array<int, 64> residual;
    residual.fill(40);
    const Block levels = QuantiseResidual(residual, 24, 0.5);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(levels[i], 0) << i;
    EXPECT_NE(levels[0], 0);
    EXPECT_LE(ReconstructError(residual, 100, 24), 1);
}

TEST(Transform, FineQuantiserReconstructsClosely) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 200; ++trial) {
        std::array<int, 64> residual;
        for (int& v : residual) v = static_cast<int>(random() % 121) - 60;
        EXPECT_LE(ReconstructError(residual, 128, 0), 2) << trial;
    }
}

TEST(Transform, CoarserQuantiserGivesLargerErrorButStaysBounded) {
    std::mt19937 random(5);
    std::array<int, 64> residual;
    for (int& v : residual) v = static_cast<int>(random() % 81) - 40;
    const int fine = ReconstructError(residual, 128, 8);
    const int coarse = ReconstructError(residual, 128, 40);
    EXPECT_LE(fine, coarse);
    EXPECT_LE(coarse, 40);
}

TEST(Transform, ReconstructionClipsToSampleRange) {
    std::array<int, 64> residual;
    residual.fill(255);
    const Block levels = QuantiseResidual(residual, 0, 0.5);
    uint8_t samples[64];
    std::fill(std::begin(samples), std::end(samples), 200);
    AddDequantisedBlock(levels, 0, samples, 8);
    for (uint8_t s : samples) EXPECT_EQ(s, 255);
}

TEST(Transform, QuantiserTablesFollowTheStepDoubling) {
    // Every 8 qp steps the quantiser step about doubles; a mistyped entry breaks that.
    for (int qp = 0; qp + 8 < 64; ++qp) {
        const double step = DequantMultiplier(qp) / double(1 << DequantShift(qp));
        const double next = DequantMultiplier(qp + 8) / double(1 << DequantShift(qp + 8));
        EXPECT_NEAR(next / step, 2.0, 0.03) << qp;
    }
    EXPECT_EQ(ChromaQp(24), 24);
    EXPECT_EQ(ChromaQp(63), 51);
}

TEST(Transform, LevelsAreKeptWithin16BitInverseTransform) {
    // A full-range checkerboard needs intermediates beyond 16 bits.
    std::array<int, 64> residual;
    for (int i = 0; i < 64; ++i) residual[i] = (i % 8 + i / 8) % 2 ? 255 : -255;
    const Block plain = QuantiseResidual(residual, 24, 0.5);
    EXPECT_FALSE(Fits16BitInverseTransform(plain, 24));
    const Block safe = QuantiseResidualSafely(residual, 24, 0.5);
    EXPECT_TRUE(Fits16BitInverseTransform(safe, 24));
    EXPECT_NE(safe[63], 0);  // still carries the pattern
    // Ordinary blocks are left alone.
    std::array<int, 64> small;
    small.fill(20);
    EXPECT_EQ(QuantiseResidualSafely(small, 24, 0.5), QuantiseResidual(small, 24, 0.5));
}
