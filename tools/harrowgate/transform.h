#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace harrowgate {

// Basis of the 8x8 integer transform: row k is the k-th basis function.
inline constexpr int kTransformBasis[8][8] = {
    {8, 8, 8, 8, 8, 8, 8, 8},         {10, 9, 6, 2, -2, -6, -9, -10},
    {10, 4, -4, -10, -10, -4, 4, 10}, {9, -2, -10, -6, 6, 10, 2, -9},
    {8, -8, -8, 8, 8, -8, -8, 8},     {6, -10, 2, 9, -9, -2, 10, -6},
    {4, -10, 10, -4, -4, 10, -10, 4}, {2, -6, 9, -10, 10, -9, 6, -2},
};

using Block = std::array<int16_t, 64>;  // raster order, row * 8 + column

// Quantiser step scaling of the AVS1-P2 8x8 integer transform.
int DequantMultiplier(int qp);
int DequantShift(int qp);
int ChromaQp(int luma_qp);

// The fractions a quantiser adds to |coefficient| / step before truncating it (0.5 rounds to
// nearest, smaller values favour zero): `level` for every level, and the smaller `zero` for
// whether a coefficient is coded at all, as a lone 1 costs several bits for little error.
struct Rounding {
    // A single fraction for both, the common case; implicit so that a plain number reads as one.
    constexpr Rounding(double both) : level(both), zero(both) {}  // NOLINT
    constexpr Rounding(double level_fraction, double zero_fraction)
        : level(level_fraction), zero(std::min(zero_fraction, level_fraction)) {}
    double level;
    double zero;
    bool operator==(const Rounding& other) const {
        return level == other.level && zero == other.zero;
    }
};

// Forward transform of a residual block and quantisation to levels.
Block QuantiseResidual(const std::array<int, 64>& residual, int qp, Rounding rounding);

// True when every intermediate value of the decoder's inverse transform of these levels fits
// in 16 bits. Decoders may compute in 16-bit lanes (FFmpeg here disagreed with a wider
// computation on such levels), so levels that overflow would decode differently from place
// to place.
bool Fits16BitInverseTransform(const Block& levels, int qp);

// Quantises like quantise_residual, then shrinks the levels until the inverse transform fits
// in 16 bits (large residuals of full-range edges can otherwise overflow).
// With `magnitudes`, also the |value| in quantiser steps before rounding of each coefficient
// the first quantisation codes (the others are left alone).
Block QuantiseResidualSafely(const std::array<int, 64>& residual, int qp, Rounding rounding,
                             std::array<float, 64>* magnitudes = nullptr);

// What the decoder does with a block's levels: scale them, run the inverse integer transform
// and add the result to the 8x8 samples at `samples` (clipped to 0..255). Must be bit-exact
// with the decoder, since later intra predictions start from these samples.
void AddDequantisedBlock(const Block& levels, int qp, uint8_t* samples, int stride);

}  // namespace harrowgate
