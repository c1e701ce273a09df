#include "transform.h"

#include <algorithm>
#include <cmath>

namespace harrowgate {
namespace {

// Basis of the 8x8 integer transform: row k is the k-th basis function.
constexpr int kBasis[8][8] = {
    {8, 8, 8, 8, 8, 8, 8, 8},         {10, 9, 6, 2, -2, -6, -9, -10},
    {10, 4, -4, -10, -10, -4, 4, 10}, {9, -2, -10, -6, 6, 10, 2, -9},
    {8, -8, -8, 8, 8, -8, -8, 8},     {6, -10, 2, 9, -9, -2, 10, -6},
    {4, -10, 10, -4, -4, 10, -10, 4}, {2, -6, 9, -10, 10, -9, 6, -2},
};

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

// Squared norm of each basis row (the rows are orthogonal).
double basis_norm(int k) {
    double sum = 0;
    for (int n = 0; n < 8; ++n) sum += kBasis[k][n] * kBasis[k][n];
    return sum;
}

constexpr int kMaxLevel = 2047;

}  // namespace

int dequant_multiplier(int qp) {
    return kDequantMultiplier[qp];
}
int dequant_shift(int qp) {
    return kDequantShift[qp];
}
int chroma_qp(int luma_qp) {
    return kChromaQp[luma_qp];
}

Block quantise_residual(const std::array<int, 64>& residual, int qp, double rounding) {
    static const std::array<double, 8> norms = [] {
        std::array<double, 8> n{};
        for (int k = 0; k < 8; ++k) n[k] = basis_norm(k);
        return n;
    }();
    // The decoder reconstructs R = B^T D B / 1024, so D = 1024 N^-1 B R B^T N^-1.
    double rows[8][8];  // B R
    for (int i = 0; i < 8; ++i)
        for (int n = 0; n < 8; ++n) {
            double sum = 0;
            for (int m = 0; m < 8; ++m) sum += kBasis[i][m] * residual[m * 8 + n];
            rows[i][n] = sum;
        }
    const double step =
        static_cast<double>(kDequantMultiplier[qp]) / static_cast<double>(1 << kDequantShift[qp]);
    Block levels{};
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            double sum = 0;
            for (int n = 0; n < 8; ++n) sum += rows[i][n] * kBasis[k][n];
            const double coefficient = 1024.0 * sum / (norms[i] * norms[k]);
            const double magnitude = std::floor(std::fabs(coefficient) / step + rounding);
            const int level = static_cast<int>(std::min<double>(magnitude, kMaxLevel));
            levels[i * 8 + k] = static_cast<int16_t>(coefficient < 0 ? -level : level);
        }
    return levels;
}

void add_dequantised_block(const Block& levels, int qp, uint8_t* samples, int stride) {
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
            for (int k = 0; k < 8; ++k) sum += kBasis[k][n] * block[i][k];
            rows[i][n] = static_cast<int16_t>((sum + 4) >> 3);
        }
    for (int m = 0; m < 8; ++m)
        for (int n = 0; n < 8; ++n) {
            int sum = 0;
            for (int i = 0; i < 8; ++i) sum += kBasis[i][m] * rows[i][n];
            const int value = samples[m * stride + n] + (sum >> 7);
            samples[m * stride + n] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
}

}  // namespace harrowgate
