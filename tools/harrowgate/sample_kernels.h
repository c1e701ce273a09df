#pragma once

// The encoder's inner loops, written with SSE2 intrinsics where the compiler targets it
// (every x86-64 build) and as plain loops elsewhere (the 32-bit Windows build, whose
// baseline has no SSE2, so it runs there on any processor). Each kernel gives exactly the
// result of its plain reference (transform.h, the motion and intra code), which the unit
// tests check on random and extreme inputs; the stream never depends on which path ran.

#include <array>
#include <cstdint>

#include "tools/harrowgate/transform.h"

namespace harrowgate {

// True when the vector paths are compiled in.
bool VectorKernelsCompiled();

// QuantiseResidual's result. Most coefficients of a block quantise to zero: those are
// found by comparing the exact integer transform with a per-position threshold, and only
// the rest go through the floating-point division the reference does.
// With `magnitudes`, also the |value| in quantiser steps before rounding of each coefficient
// whose level is not zero (raster order; the others are left alone).
Block QuantiseResidualFast(const std::array<int, 64>& residual, int qp, double rounding,
                           std::array<float, 64>* magnitudes = nullptr);

// Fits16BitInverseTransform's result.
bool Fits16BitInverseTransformFast(const Block& levels, int qp);

// AddDequantisedBlock's result.
void AddDequantisedBlockFast(const Block& levels, int qp, uint8_t* samples, int stride);

// Sum of absolute differences of two 16x16 blocks.
int Sad16x16(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride);

// Sums of absolute differences of the 4x4 block at `a` against the 4x4 blocks at
// b, b + 1, ..., b + count - 1, into sads[0..count).
void Sad4x4Row(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int count,
               int* sads);

// One row of a picture reduced a quarter each way: out[x] is the rounded mean of the 4x4
// samples at column 4x of the four rows from `in`, for x in [0, count).
void Reduce4x4Row(const uint8_t* in, int stride, int count, uint8_t* out);

// Sum of squared differences and the largest absolute difference of a `width` x `height`
// block (width 8 or 16), added to / maxed into `squared` and `worst`.
void DifferenceStats(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int width,
                     int height, long long* squared, int* worst);

// Sum of the samples of a 16x16 block, and the sum of their absolute differences from `mean`.
int Sum16x16(const uint8_t* a, int stride);
int Deviation16x16(const uint8_t* a, int stride, int mean);

// The standard's half-sample luma filters over the 19x19 samples from `window`, which lies
// one sample before the block each way, rows `stride` apart: whole, across, down or centre
// positions of a 16x16 block.
void InterpolateLuma16(const uint8_t* window, int stride, bool half_x, bool half_y,
                       uint8_t out[256]);

// The decoder's luma filter for a position `fraction` (1..3) quarter samples past a sample:
// taps on the samples -2..3 around it, summing to 128 (quarter) or 8 (half).
const int* LumaTaps(int fraction);

// The quarter-sample luma filters at (fx, fy) quarter samples (0..3 each, not both even) of a
// 16x16 block, over the 21x21 samples from `window`, which lies two samples before the block
// each way. Positions off both axes filter across into 16-bit values (wrapping as the
// decoder's do), then down; odd ones in both directions average the centre with a sample.
// True when the position is a quarter down only (fx 0, fy odd) and some sample's filter sum,
// rounding included, passes 32767: FFmpeg's x86 decoder sums those in 16 bits and wraps.
bool QuarterLuma16(const uint8_t* window, int stride, int fx, int fy, uint8_t out[256]);

// Bilinear chroma prediction of an 8x8 block from the 9x9 samples at `ref` with weights in
// eighths (0..7 each way).
void BilinearChroma8(const uint8_t* ref, int stride, int fx, int fy, uint8_t out[64]);

// The plain loops the vector paths must agree with (and run where SSE2 is not compiled in).
namespace scalar_kernels {
int Sad16x16(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride);
void Sad4x4Row(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int count,
               int* sads);
void DifferenceStats(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int width,
                     int height, long long* squared, int* worst);
void Reduce4x4Row(const uint8_t* in, int stride, int count, uint8_t* out);
int Sum16x16(const uint8_t* a, int stride);
int Deviation16x16(const uint8_t* a, int stride, int mean);
void InterpolateLuma16(const uint8_t* window, int stride, bool half_x, bool half_y,
                       uint8_t out[256]);
bool QuarterLuma16(const uint8_t* window, int stride, int fx, int fy, uint8_t out[256]);
void BilinearChroma8(const uint8_t* ref, int stride, int fx, int fy, uint8_t out[64]);
}  // namespace scalar_kernels

}  // namespace harrowgate
