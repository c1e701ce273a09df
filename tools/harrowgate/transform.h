#pragma once

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
// Squared norm of row k of kTransformBasis (the rows are orthogonal: 512, 442, 464, ...).
double BasisNorm(int k);

// Forward transform of a residual block and quantisation to levels; `rounding` is the
// fraction added before truncation (0.5 rounds to nearest, smaller values favour zero).
Block QuantiseResidual(const std::array<int, 64>& residual, int qp, double rounding);

// True when every intermediate value of the decoder's inverse transform of these levels fits
// in 16 bits. Decoders may compute in 16-bit lanes (FFmpeg here disagreed with a wider
// computation on such levels), so levels that overflow would decode differently from place
// to place.
bool Fits16BitInverseTransform(const Block& levels, int qp);

// Quantises like quantise_residual, then shrinks the levels until the inverse transform fits
// in 16 bits (large residuals of full-range edges can otherwise overflow).
// With `magnitudes`, also the |value| in quantiser steps before rounding of each coefficient
// the first quantisation codes (the others are left alone).
Block QuantiseResidualSafely(const std::array<int, 64>& residual, int qp, double rounding,
                             std::array<float, 64>* magnitudes = nullptr);

// What the decoder does with a block's levels: scale them, run the inverse integer transform
// and add the result to the 8x8 samples at `samples` (clipped to 0..255). Must be bit-exact
// with the decoder, since later intra predictions start from these samples.
void AddDequantisedBlock(const Block& levels, int qp, uint8_t* samples, int stride);

}  // namespace harrowgate
