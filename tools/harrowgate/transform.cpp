#include "tools/harrowgate/transform.h"

#include <algorithm>
#include <cmath>

#include "tools/harrowgate/sample_kernels.h"

namespace harrowgate {
namespace {

constexpr uint16_t kDequantMultiplier[64] = {
    32768, 36061, 38968, 42495, 46341, 50535, 55437, 60424, 32932, 35734, 38968, 42495, 46177,
    50535, 55109, 59933, 65535, 35734, 38968, 42577, 46341, 50617, 55027, 60097, 32809, 35734,
    38968, 42454, 46382, 50576, 55109, 60056, 65535, 35734, 38968, 42495, 46320, 50515, 55109,
    60076, 65535, 35744, 38968, 42495, 46341, 50535, 55099, 60087, 65535, 35734, 38973, 42500,
    46341, 50535, 55109, 60097, 32771, 35734, 38965, 42497, 46341, 50535, 55109, 60099};

constexpr uint8_t kDequantShift[64] = {
    14, 14, 14, 14, 14, 14, 14, 14, 13, 13, 13, 13, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12,
    12, 12, 11, 11, 11, 11, 11, 11, 11, 11, 11, 10, 10, 10, 10, 10, 10, 10, 10, 9,  9,  9,
    9,  9,  9,  9,  9,  8,  8,  8,  8,  8,  8,  8,  7,  7,  7,  7,  7,  7,  7,  7};

constexpr uint8_t kChromaQp[64] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                                   16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                                   32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 42, 43, 43, 44, 44,
                                   45, 45, 46, 46, 47, 47, 48, 48, 48, 49, 49, 49, 50, 50, 50, 51};

constexpr int kMaxLevel = 2047;

}  // namespace

double BasisNorm(int k) {
    double sum = 0;
    for (int n = 0; n < 8; ++n) sum += kTransformBasis[k][n] * kTransformBasis[k][n];
    return sum;
}

int DequantMultiplier(int qp) {
    return kDequantMultiplier[qp];
}
int DequantShift(int qp) {
    return kDequantShift[qp];
}
int ChromaQp(int luma_qp) {
    return kChromaQp[luma_qp];
}

Block QuantiseResidual(const std::array<int, 64>& residual, int qp, double rounding) {
    static const std::array<double, 8> kNorms = [] {
        std::array<double, 8> n{};
        for (int k = 0; k < 8; ++k) n[k] = BasisNorm(k);
        return n;
    }();
    // The decoder reconstructs R = B^T D B / 1024, so D = 1024 N^-1 B R B^T N^-1.
    double rows[8][8];  // B R
    for (int i = 0; i < 8; ++i)
        for (int n = 0; n < 8; ++n) {
            double sum = 0;
            for (int m = 0; m < 8; ++m) sum += kTransformBasis[i][m] * residual[m * 8 + n];
            rows[i][n] = sum;
        }
    const double step =
        static_cast<double>(kDequantMultiplier[qp]) / static_cast<double>(1 << kDequantShift[qp]);
    Block levels{};
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            double sum = 0;
            for (int n = 0; n < 8; ++n) sum += rows[i][n] * kTransformBasis[k][n];
            const double coefficient = 1024.0 * sum / (kNorms[i] * kNorms[k]);
            const double magnitude = std::floor(std::fabs(coefficient) / step + rounding);
            const int level = static_cast<int>(std::min<double>(magnitude, kMaxLevel));
            levels[i * 8 + k] = static_cast<int16_t>(coefficient < 0 ? -level : level);
        }
    return levels;
}

namespace {

bool In16Bits(int v) {
    return v >= -32768 && v <= 32767;
}

// One butterfly pass of the inverse transform over 8 values, as the decoder computes it;
// false when any intermediate leaves 16 bits. `rounding` is added to the even part.
bool ButterflyFits(const int in[8], int rounding, int out[8]) {
    const int a0 = 3 * in[1] - 2 * in[7];
    const int a1 = 3 * in[3] + 2 * in[5];
    const int a2 = 2 * in[3] - 3 * in[5];
    const int a3 = 2 * in[1] + 3 * in[7];
    const int b4 = 2 * (a0 + a1 + a3) + a1;
    const int b5 = 2 * (a0 - a1 + a2) + a0;
    const int b6 = 2 * (a3 - a2 - a1) + a3;
    const int b7 = 2 * (a0 - a2 - a3) - a2;
    const int a7 = 4 * in[2] - 10 * in[6];
    const int a6 = 4 * in[6] + 10 * in[2];
    const int a5 = 8 * (in[0] - in[4]) + rounding;
    const int a4 = 8 * (in[0] + in[4]) + rounding;
    const int b0 = a4 + a6;
    const int b1 = a5 + a7;
    const int b2 = a5 - a7;
    const int b3 = a4 - a6;
    const int all[] = {a0, a1, a2, a3, a4, a5, a6, a7, b0, b1, b2, b3, b4, b5, b6, b7};
    out[0] = b0 + b4;
    out[1] = b1 + b5;
    out[2] = b2 + b6;
    out[3] = b3 + b7;
    out[4] = b3 - b7;
    out[5] = b2 - b6;
    out[6] = b1 - b5;
    out[7] = b0 - b4;
    for (int v : all)
        if (!In16Bits(v)) return false;
    for (int i = 0; i < 8; ++i)
        if (!In16Bits(out[i])) return false;
    return true;
}

}  // namespace

bool Fits16BitInverseTransform(const Block& levels, int qp) {
    const int multiplier = kDequantMultiplier[qp];
    const int shift = kDequantShift[qp];
    const int round = 1 << (shift - 1);
    int block[8][8];
    for (int i = 0; i < 64; ++i) {
        block[i / 8][i % 8] = levels[i] == 0 ? 0 : (levels[i] * multiplier + round) >> shift;
        if (!In16Bits(block[i / 8][i % 8])) return false;
    }
    block[0][0] += 8;
    if (!In16Bits(block[0][0])) return false;
    int rows[8][8];
    for (int i = 0; i < 8; ++i) {
        int out[8];
        if (!ButterflyFits(block[i], 4, out)) return false;
        for (int n = 0; n < 8; ++n) rows[i][n] = out[n] >> 3;
    }
    for (int n = 0; n < 8; ++n) {
        int column[8];
        for (int i = 0; i < 8; ++i) column[i] = rows[i][n];
        int out[8];
        if (!ButterflyFits(column, 0, out)) return false;
    }
    return true;
}

Block QuantiseResidualSafely(const std::array<int, 64>& residual, int qp, double rounding,
                             std::array<float, 64>* magnitudes) {
    // The vector kernels, which give the plain functions' results.
    Block levels = QuantiseResidualFast(residual, qp, rounding, magnitudes);
    if (Fits16BitInverseTransformFast(levels, qp)) return levels;
    std::array<int, 64> scaled = residual;
    for (int attempt = 0; attempt < 16 && !Fits16BitInverseTransformFast(levels, qp); ++attempt) {
        for (int& v : scaled) v = v * 7 / 8;
        levels = QuantiseResidualFast(scaled, qp, rounding);
    }
    if (!Fits16BitInverseTransformFast(levels, qp)) levels.fill(0);
    return levels;
}

void AddDequantisedBlock(const Block& levels, int qp, uint8_t* samples, int stride) {
    const int multiplier = kDequantMultiplier[qp];
    const int shift = kDequantShift[qp];
    const int round = 1 << (shift - 1);
    int16_t block[8][8];
    for (int i = 0; i < 64; ++i)
        block[i / 8][i % 8] =
            levels[i] == 0 ? 0 : static_cast<int16_t>((levels[i] * multiplier + round) >> shift);

    // Rounding for the final shift rides on the DC coefficient, as in the decoder.
    block[0][0] = static_cast<int16_t>(block[0][0] + 8);
    int16_t rows[8][8];
    for (int i = 0; i < 8; ++i)
        for (int n = 0; n < 8; ++n) {
            int sum = 0;
            for (int k = 0; k < 8; ++k) sum += kTransformBasis[k][n] * block[i][k];
            rows[i][n] = static_cast<int16_t>((sum + 4) >> 3);
        }
    for (int m = 0; m < 8; ++m)
        for (int n = 0; n < 8; ++n) {
            int sum = 0;
            for (int i = 0; i < 8; ++i) sum += kTransformBasis[i][m] * rows[i][n];
            const int value = samples[m * stride + n] + (sum >> 7);
            samples[m * stride + n] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
}

}  // namespace harrowgate
