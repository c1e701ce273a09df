#include "tools/harrowgate/sample_kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tools/harrowgate/transform.h"

using namespace harrowgate;

namespace {

// Residuals that drive each coefficient to its extreme, random ones, flat and single spikes.
std::vector<std::array<int, 64>> Residuals(int limit, std::mt19937& random) {
    std::vector<std::array<int, 64>> all;
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            std::array<int, 64> r;
            for (int m = 0; m < 8; ++m)
                for (int n = 0; n < 8; ++n)
                    r[m * 8 + n] =
                        kTransformBasis[i][m] * kTransformBasis[k][n] >= 0 ? limit : -limit;
            all.push_back(r);
        }
    for (int trial = 0; trial < 150; ++trial) {
        std::array<int, 64> r;
        const int spread = trial % 3 == 0 ? 2 * limit + 1 : trial % 3 == 1 ? 41 : 7;
        for (int& v : r) v = static_cast<int>(random() % spread) - spread / 2;
        all.push_back(r);
    }
    for (int v : {0, limit, -limit, 1, -1}) {
        std::array<int, 64> r;
        r.fill(v);
        all.push_back(r);
        r.fill(0);
        r[static_cast<size_t>(random() % 64)] = v;
        all.push_back(r);
    }
    return all;
}

std::vector<uint8_t> RandomBytes(size_t size, std::mt19937& random) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        const unsigned pick = random() % 8;
        b = pick == 0 ? 0 : pick == 1 ? 255 : static_cast<uint8_t>(random());
    }
    return bytes;
}

}  // namespace

TEST(SampleKernels, VectorPathsAreCompiledOn64BitX86) {
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_TRUE(VectorKernelsCompiled());
#else
    GTEST_SKIP() << "plain loops only on this target";
#endif
}

TEST(SampleKernels, QuantisationMatchesThePlainTransformAtEveryQuantiser) {
    std::mt19937 random(11);
    // Full-range residuals, and ones past the 16-bit path's reach (the plain sums take them).
    for (int limit : {255, 511, 3000}) {
        const auto residuals = Residuals(limit, random);
        // More quantiser and rounding pairs than the kernel keeps thresholds for.
        for (int qp = 0; qp < 64; qp += limit == 255 ? 1 : 7)
            for (double rounding : {0.42, 0.3, 0.5, 0.0, 0.999}) {
                for (const auto& r : residuals)
                    ASSERT_EQ(QuantiseResidualFast(r, qp, rounding),
                              QuantiseResidual(r, qp, rounding))
                        << "qp " << qp << " rounding " << rounding << " limit " << limit;
            }
    }
}

TEST(SampleKernels, SixteenBitCheckAndInverseTransformMatchThePlainOnes) {
    std::mt19937 random(12);
    std::vector<Block> blocks;
    // Levels of extreme residuals at fine quantisers overflow 16 bits; random and single
    // large levels at each position, and levels past the quantiser's range.
    for (const auto& r : Residuals(255, random))
        for (int qp : {0, 3, 9, 24}) blocks.push_back(QuantiseResidual(r, qp, 0.5));
    for (int trial = 0; trial < 300; ++trial) {
        Block b{};
        const int span = trial % 4 == 0 ? 4095 : trial % 4 == 1 ? 201 : 15;
        const int count = 1 + static_cast<int>(random() % 64);
        for (int i = 0; i < count; ++i)
            b[random() % 64] = static_cast<int16_t>(static_cast<int>(random() % span) - span / 2);
        blocks.push_back(b);
    }
    for (int p = 0; p < 64; ++p)
        for (int16_t v : {2047, -2047, 2048, -3000, 700, -700}) {
            Block b{};
            b[p] = v;
            blocks.push_back(b);
        }
    // Sign patterns that push one output of the inverse transform to its extreme, with levels
    // that dequantise (at quantiser 0, twice the level) to the fast check's limit and past it.
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k)
            for (int16_t magnitude : {32, 33, 40, 290}) {
                Block b;
                for (int m = 0; m < 8; ++m)
                    for (int n = 0; n < 8; ++n)
                        b[m * 8 + n] = static_cast<int16_t>(
                            kTransformBasis[m][i] * kTransformBasis[n][k] >= 0 ? magnitude
                                                                               : -magnitude);
                blocks.push_back(b);
            }
    int fits = 0, overflows = 0;
    for (const Block& b : blocks)
        for (int qp = 0; qp < 64; qp += 3) {
            const bool expected = Fits16BitInverseTransform(b, qp);
            ASSERT_EQ(Fits16BitInverseTransformFast(b, qp), expected) << "qp " << qp;
            (expected ? fits : overflows) += 1;
            // The sum is added where the block sits in a wider picture, off its alignment.
            std::vector<uint8_t> plain = RandomBytes(8 * 21 + 3, random);
            std::vector<uint8_t> fast = plain;
            AddDequantisedBlock(b, qp, plain.data() + 3, 21);
            AddDequantisedBlockFast(b, qp, fast.data() + 3, 21);
            ASSERT_EQ(fast, plain) << "qp " << qp;
        }
    // Both answers were exercised.
    EXPECT_GT(fits, 1000);
    EXPECT_GT(overflows, 100);
}

TEST(SampleKernels, DifferenceSumsMatchThePlainLoopsAtOddOffsets) {
    std::mt19937 random(13);
    for (int trial = 0; trial < 200; ++trial) {
        const int a_stride = 16 + static_cast<int>(random() % 40);
        const int b_stride = 16 + static_cast<int>(random() % 40);
        const std::vector<uint8_t> a = RandomBytes(static_cast<size_t>(a_stride) * 17 + 16, random);
        std::vector<uint8_t> b = RandomBytes(static_cast<size_t>(b_stride) * 17 + 16, random);
        if (trial % 10 == 0)  // the largest differences everywhere
            for (size_t i = 0; i < b.size(); ++i) b[i] = i < a.size() && a[i] < 128 ? 255 : 0;
        const uint8_t* pa = a.data() + random() % 16;
        const uint8_t* pb = b.data() + random() % 16;
        EXPECT_EQ(Sad16x16(pa, a_stride, pb, b_stride),
                  scalar_kernels::Sad16x16(pa, a_stride, pb, b_stride));
        EXPECT_EQ(Sum16x16(pa, a_stride), scalar_kernels::Sum16x16(pa, a_stride));
        const int mean = static_cast<int>(random() % 256);
        EXPECT_EQ(Deviation16x16(pa, a_stride, mean),
                  scalar_kernels::Deviation16x16(pa, a_stride, mean));
        for (int width : {16, 8}) {
            long long squared = 7, plain_squared = 7;
            int worst = trial % 5, plain_worst = trial % 5;
            DifferenceStats(pa, a_stride, pb, b_stride, width, width, &squared, &worst);
            scalar_kernels::DifferenceStats(pa, a_stride, pb, b_stride, width, width,
                                            &plain_squared, &plain_worst);
            EXPECT_EQ(squared, plain_squared) << width;
            EXPECT_EQ(worst, plain_worst) << width;
        }
    }
}

TEST(SampleKernels, InterpolationMatchesThePlainFiltersAtEveryPosition) {
    std::mt19937 random(14);
    for (int trial = 0; trial < 100; ++trial) {
        std::vector<uint8_t> window = RandomBytes(19 * 19, random);
        if (trial == 0)
            for (size_t i = 0; i < window.size(); ++i)  // stripes: the filters' extremes
                window[i] = (i % 19) % 2 == 0 ? 255 : 0;
        if (trial == 1)
            for (size_t i = 0; i < window.size(); ++i) window[i] = (i / 19) % 2 == 0 ? 255 : 0;
        // Inside a picture the samples are read in place: a wider stride, from an odd offset.
        const int wide_stride = 19 + static_cast<int>(random() % 50);
        std::vector<uint8_t> picture =
            RandomBytes(static_cast<size_t>(wide_stride) * 19 + 5, random);
        for (bool half_x : {false, true})
            for (bool half_y : {false, true}) {
                uint8_t fast[256], plain[256];
                InterpolateLuma16(window.data(), 19, half_x, half_y, fast);
                scalar_kernels::InterpolateLuma16(window.data(), 19, half_x, half_y, plain);
                ASSERT_EQ(std::vector<uint8_t>(fast, fast + 256),
                          std::vector<uint8_t>(plain, plain + 256))
                    << half_x << half_y << " trial " << trial;
                InterpolateLuma16(picture.data() + 5, wide_stride, half_x, half_y, fast);
                scalar_kernels::InterpolateLuma16(picture.data() + 5, wide_stride, half_x, half_y,
                                                  plain);
                ASSERT_EQ(std::vector<uint8_t>(fast, fast + 256),
                          std::vector<uint8_t>(plain, plain + 256))
                    << half_x << half_y << " stride " << wide_stride;
            }
        const int stride = 9 + static_cast<int>(random() % 20);
        const std::vector<uint8_t> chroma =
            RandomBytes(static_cast<size_t>(stride) * 9 + 1, random);
        for (int fx = 0; fx < 8; ++fx)
            for (int fy = 0; fy < 8; ++fy) {
                uint8_t fast[64], plain[64];
                BilinearChroma8(chroma.data() + 1, stride, fx, fy, fast);
                scalar_kernels::BilinearChroma8(chroma.data() + 1, stride, fx, fy, plain);
                ASSERT_EQ(std::vector<uint8_t>(fast, fast + 64),
                          std::vector<uint8_t>(plain, plain + 64))
                    << fx << "," << fy;
            }
    }
}

TEST(SampleKernels, SmallBlockSadsAlongARowMatchThePlainLoops) {
    std::mt19937 random(21);
    for (int trial = 0; trial < 200; ++trial) {
        const int a_stride = 4 + static_cast<int>(random() % 30);
        const int b_stride = 40 + static_cast<int>(random() % 30);
        const std::vector<uint8_t> a = RandomBytes(static_cast<size_t>(a_stride) * 4 + 4, random);
        std::vector<uint8_t> b = RandomBytes(static_cast<size_t>(b_stride) * 4 + 40, random);
        if (trial % 10 == 0)  // the largest differences everywhere
            for (size_t i = 0; i < b.size(); ++i) b[i] = a[i % a.size()] < 128 ? 255 : 0;
        const int count = 1 + static_cast<int>(random() % 33);
        const uint8_t* pb = b.data() + random() % 4;
        int fast[33], plain[33];
        Sad4x4Row(a.data(), a_stride, pb, b_stride, count, fast);
        scalar_kernels::Sad4x4Row(a.data(), a_stride, pb, b_stride, count, plain);
        for (int i = 0; i < count; ++i) ASSERT_EQ(fast[i], plain[i]) << "position " << i;
    }
}

TEST(SampleKernels, RowsReducedAQuarterMatchThePlainLoops) {
    // Widths on both sides of the eight results the vector path takes at once, and samples
    // at both ends of the range, where a 16-bit sum or the rounding would show a fault.
    std::mt19937 random(22);
    for (int trial = 0; trial < 200; ++trial) {
        const int count = 1 + static_cast<int>(random() % 40);
        const int stride = count * 4 + static_cast<int>(random() % 9);
        std::vector<uint8_t> in = RandomBytes(static_cast<size_t>(stride) * 4, random);
        if (trial % 10 == 0) std::fill(in.begin(), in.end(), 255);
        if (trial % 10 == 1)
            for (size_t i = 0; i < in.size(); ++i) in[i] = i % 2 ? 255 : 0;
        std::vector<uint8_t> fast(count), plain(count);
        Reduce4x4Row(in.data(), stride, count, fast.data());
        scalar_kernels::Reduce4x4Row(in.data(), stride, count, plain.data());
        ASSERT_EQ(fast, plain) << count << " results";
    }
}

TEST(SampleKernels, QuarterSampleFiltersMatchThePlainLoopsAtEveryPosition) {
    std::mt19937 random(21);
    int wrapping = 0;  // blocks whose 16-bit sums would wrap in the decoder
    for (int trial = 0; trial < 60; ++trial) {
        // Read in place from a picture: a stride wider than the window, an odd offset.
        const int stride = 21 + static_cast<int>(random() % 40);
        std::vector<uint8_t> picture = RandomBytes(static_cast<size_t>(stride) * 21 + 3, random);
        for (size_t i = 0; i < picture.size(); ++i) {
            const size_t x = i % stride, y = i / stride;
            if (trial == 0) picture[i] = x % 2 == 0 ? 255 : 0;  // the filters' extremes
            if (trial == 1) picture[i] = y % 2 == 0 ? 255 : 0;
            if (trial == 2) picture[i] = (x + y) % 3 == 0 ? 0 : 255;
            // Near white: quarter filters' sums past 32767, which wrap in 16 bits.
            if (trial >= 3 && trial < 20) picture[i] = static_cast<uint8_t>(255 - picture[i] % 24);
        }
        for (int fx = 0; fx < 4; ++fx)
            for (int fy = 0; fy < 4; ++fy) {
                if (fx % 2 == 0 && fy % 2 == 0) continue;
                uint8_t fast[256], plain[256];
                const bool fast_wraps = QuarterLuma16(picture.data() + 3, stride, fx, fy, fast);
                const bool plain_wraps =
                    scalar_kernels::QuarterLuma16(picture.data() + 3, stride, fx, fy, plain);
                ASSERT_EQ(std::vector<uint8_t>(fast, fast + 256),
                          std::vector<uint8_t>(plain, plain + 256))
                    << fx << "," << fy << " trial " << trial << " stride " << stride;
                ASSERT_EQ(fast_wraps, plain_wraps) << fx << "," << fy << " trial " << trial;
                if (plain_wraps) ++wrapping;
                EXPECT_TRUE(!plain_wraps || (fx == 0 && fy % 2 == 1));
            }
    }
    EXPECT_GT(wrapping, 10);  // the near-white trials do reach the limit
}
