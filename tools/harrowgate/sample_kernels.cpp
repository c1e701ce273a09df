#include "tools/harrowgate/sample_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "tools/harrowgate/transform.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define HARROWGATE_SSE2 1
#endif

namespace harrowgate {
namespace {

constexpr int kMaxLevel = 2047;

double Step(int qp) {
    return static_cast<double>(DequantMultiplier(qp)) / static_cast<double>(1 << DequantShift(qp));
}

// The reference's level of the coefficient whose exact integer transform sum is `sum`: the
// same floating-point operations in the same order, so the same result.
int LevelOf(int sum, int i, int k, double step, double rounding) {
    static const std::array<double, 8> kNorms = [] {
        std::array<double, 8> n{};
        for (int j = 0; j < 8; ++j) n[j] = BasisNorm(j);
        return n;
    }();
    const double coefficient = 1024.0 * static_cast<double>(sum) / (kNorms[i] * kNorms[k]);
    const double magnitude = std::floor(std::fabs(coefficient) / step + rounding);
    const int level = static_cast<int>(std::min<double>(magnitude, kMaxLevel));
    return coefficient < 0 ? -level : level;
}

// Per position, the largest |sum| that still quantises to zero and the largest that
// quantises to at most one (-1 when none does). The reference's level only grows with |sum|
// (each floating-point step is monotonic), so a binary search finds them. A few quantisers
// and roundings are in use at a time: keep the last ones per thread.
struct ZeroThresholds {
    int qp = -1;
    double rounding = 0;
    int32_t limit[64];
    int32_t one[64];
};

// The largest s >= 0 whose level is at most `level`, -1 when even 0 is above.
int32_t LargestWithLevel(int level, int i, int k, double step, double rounding) {
    if (LevelOf(0, i, k, step, rounding) > level) return -1;
    int low = 0, high = 1 << 24;  // level(low) <= level; the sums stay far below high
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        if (LevelOf(middle, i, k, step, rounding) <= level)
            low = middle;
        else
            high = middle;
    }
    return low;
}

const ZeroThresholds& ThresholdsFor(int qp, double rounding) {
    thread_local ZeroThresholds cache[8];
    thread_local int next = 0;
    for (const ZeroThresholds& t : cache)
        if (t.qp == qp && t.rounding == rounding) return t;
    ZeroThresholds& t = cache[next];
    next = (next + 1) % 8;
    const double step = Step(qp);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            t.limit[i * 8 + k] = LargestWithLevel(0, i, k, step, rounding);
            t.one[i * 8 + k] = LargestWithLevel(1, i, k, step, rounding);
        }
    t.qp = qp;
    t.rounding = rounding;
    return t;
}

// Exact integer B R B^T (the reference's two sums) for residuals of any int size.
void TransformSumsPlain(const std::array<int, 64>& residual, int32_t sums[64]) {
    long long rows[8][8];
    for (int i = 0; i < 8; ++i)
        for (int n = 0; n < 8; ++n) {
            long long sum = 0;
            for (int m = 0; m < 8; ++m)
                sum += kTransformBasis[i][m] * static_cast<long long>(residual[m * 8 + n]);
            rows[i][n] = sum;
        }
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 8; ++k) {
            long long sum = 0;
            for (int n = 0; n < 8; ++n) sum += rows[i][n] * kTransformBasis[k][n];
            sums[i * 8 + k] = static_cast<int32_t>(sum);
        }
}

#if HARROWGATE_SSE2

// Sums of each of four vectors' lanes, one per lane.
inline __m128i Reduce4(__m128i v0, __m128i v1, __m128i v2, __m128i v3) {
    const __m128i t0 = _mm_add_epi32(_mm_unpacklo_epi32(v0, v1), _mm_unpackhi_epi32(v0, v1));
    const __m128i t1 = _mm_add_epi32(_mm_unpacklo_epi32(v2, v3), _mm_unpackhi_epi32(v2, v3));
    return _mm_add_epi32(_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1));
}

inline void Transpose8x8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Lanes that leave 16 bits set bits in `bad`.
inline void NoteOutside16Bits(__m128i v, __m128i* bad) {
    *bad = _mm_or_si128(*bad, _mm_xor_si128(_mm_srai_epi32(v, 15), _mm_srai_epi32(v, 31)));
}

inline __m128i Times2(__m128i v) {
    return _mm_slli_epi32(v, 1);
}
inline __m128i Times3(__m128i v) {
    return _mm_add_epi32(v, _mm_slli_epi32(v, 1));
}

// ButterflyFits of transform.cpp on four lanes at once.
void Butterfly4(const __m128i in[8], __m128i rounding, __m128i out[8], __m128i* bad) {
    const __m128i a0 = _mm_sub_epi32(Times3(in[1]), Times2(in[7]));
    const __m128i a1 = _mm_add_epi32(Times3(in[3]), Times2(in[5]));
    const __m128i a2 = _mm_sub_epi32(Times2(in[3]), Times3(in[5]));
    const __m128i a3 = _mm_add_epi32(Times2(in[1]), Times3(in[7]));
    const __m128i b4 = _mm_add_epi32(Times2(_mm_add_epi32(_mm_add_epi32(a0, a1), a3)), a1);
    const __m128i b5 = _mm_add_epi32(Times2(_mm_add_epi32(_mm_sub_epi32(a0, a1), a2)), a0);
    const __m128i b6 = _mm_add_epi32(Times2(_mm_sub_epi32(_mm_sub_epi32(a3, a2), a1)), a3);
    const __m128i b7 = _mm_sub_epi32(Times2(_mm_sub_epi32(_mm_sub_epi32(a0, a2), a3)), a2);
    const __m128i a7 = _mm_sub_epi32(_mm_slli_epi32(in[2], 2),
                                     _mm_add_epi32(_mm_slli_epi32(in[6], 3), Times2(in[6])));
    const __m128i a6 = _mm_add_epi32(_mm_slli_epi32(in[6], 2),
                                     _mm_add_epi32(_mm_slli_epi32(in[2], 3), Times2(in[2])));
    const __m128i a5 = _mm_add_epi32(_mm_slli_epi32(_mm_sub_epi32(in[0], in[4]), 3), rounding);
    const __m128i a4 = _mm_add_epi32(_mm_slli_epi32(_mm_add_epi32(in[0], in[4]), 3), rounding);
    const __m128i b0 = _mm_add_epi32(a4, a6);
    const __m128i b1 = _mm_add_epi32(a5, a7);
    const __m128i b2 = _mm_sub_epi32(a5, a7);
    const __m128i b3 = _mm_sub_epi32(a4, a6);
    out[0] = _mm_add_epi32(b0, b4);
    out[1] = _mm_add_epi32(b1, b5);
    out[2] = _mm_add_epi32(b2, b6);
    out[3] = _mm_add_epi32(b3, b7);
    out[4] = _mm_sub_epi32(b3, b7);
    out[5] = _mm_sub_epi32(b2, b6);
    out[6] = _mm_sub_epi32(b1, b5);
    out[7] = _mm_sub_epi32(b0, b4);
    for (const __m128i v : {a0, a1, a2, a3, a4, a5, a6, a7, b0, b1, b2, b3, b4, b5, b6, b7})
        NoteOutside16Bits(v, bad);
    for (int i = 0; i < 8; ++i) NoteOutside16Bits(out[i], bad);
}

// Lanes 0-3 or 4-7 of eight 16-bit values as 32-bit values.
inline __m128i Low32(__m128i v) {
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}
inline __m128i High32(__m128i v) {
    return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
}

// (level * multiplier + round) >> shift of eight levels, exact in 32 bits for levels within
// the quantiser's range.
inline void Dequantise8(__m128i levels, int qp, __m128i* low, __m128i* high) {
    const int multiplier = DequantMultiplier(qp);
    const __m128i m = _mm_set1_epi16(static_cast<int16_t>(static_cast<uint16_t>(multiplier)));
    const __m128i round = _mm_set1_epi32(1 << (DequantShift(qp) - 1));
    const __m128i shift = _mm_cvtsi32_si128(DequantShift(qp));
    const __m128i product_low = _mm_mullo_epi16(levels, m);
    __m128i product_high = _mm_mulhi_epi16(levels, m);
    // The signed high half took the multiplier as multiplier - 65536.
    if (multiplier >= 32768) product_high = _mm_add_epi16(product_high, levels);
    *low =
        _mm_sra_epi32(_mm_add_epi32(_mm_unpacklo_epi16(product_low, product_high), round), shift);
    *high =
        _mm_sra_epi32(_mm_add_epi32(_mm_unpackhi_epi16(product_low, product_high), round), shift);
}

inline bool WithinQuantiserRange(const Block& levels) {
    const __m128i limit = _mm_set1_epi16(kMaxLevel);
    const __m128i low_limit = _mm_set1_epi16(-kMaxLevel);
    __m128i outside = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.data() + i * 8));
        outside = _mm_or_si128(
            outside, _mm_or_si128(_mm_cmpgt_epi16(v, limit), _mm_cmplt_epi16(v, low_limit)));
    }
    return _mm_movemask_epi8(outside) == 0;
}

#endif  // HARROWGATE_SSE2

}  // namespace

bool VectorKernelsCompiled() {
#if HARROWGATE_SSE2
    return true;
#else
    return false;
#endif
}

namespace {

// The exact integer sums B R B^T of a residual, in 16-bit lanes where they fit.
void TransformSums(const std::array<int, 64>& residual, int32_t sums[64]) {
#if HARROWGATE_SSE2
    // 16-bit lanes hold B R for residuals within +-511 (the rows of B sum to at most 64 in
    // magnitude); larger ones take the plain sums.
    __m128i r[8];
    __m128i high = _mm_set1_epi16(-32768), low = _mm_set1_epi16(32767);
    for (int m = 0; m < 8; ++m) {
        const __m128i* p = reinterpret_cast<const __m128i*>(residual.data() + m * 8);
        r[m] = _mm_packs_epi32(_mm_loadu_si128(p), _mm_loadu_si128(p + 1));
        high = _mm_max_epi16(high, r[m]);
        low = _mm_min_epi16(low, r[m]);
    }
    const bool small =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi16(high, _mm_set1_epi16(511)),
                                       _mm_cmplt_epi16(low, _mm_set1_epi16(-511)))) == 0;
    if (small) {
        __m128i basis[8];
        for (int k = 0; k < 8; ++k)
            basis[k] = _mm_setr_epi16(static_cast<int16_t>(kTransformBasis[k][0]),
                                      static_cast<int16_t>(kTransformBasis[k][1]),
                                      static_cast<int16_t>(kTransformBasis[k][2]),
                                      static_cast<int16_t>(kTransformBasis[k][3]),
                                      static_cast<int16_t>(kTransformBasis[k][4]),
                                      static_cast<int16_t>(kTransformBasis[k][5]),
                                      static_cast<int16_t>(kTransformBasis[k][6]),
                                      static_cast<int16_t>(kTransformBasis[k][7]));
        for (int i = 0; i < 8; ++i) {
            __m128i row = _mm_setzero_si128();
            for (int m = 0; m < 8; ++m)
                row = _mm_add_epi16(
                    row, _mm_mullo_epi16(
                             r[m], _mm_set1_epi16(static_cast<int16_t>(kTransformBasis[i][m]))));
            __m128i products[8];
            for (int k = 0; k < 8; ++k) products[k] = _mm_madd_epi16(row, basis[k]);
            _mm_store_si128(reinterpret_cast<__m128i*>(sums + i * 8),
                            Reduce4(products[0], products[1], products[2], products[3]));
            _mm_store_si128(reinterpret_cast<__m128i*>(sums + i * 8 + 4),
                            Reduce4(products[4], products[5], products[6], products[7]));
        }
    } else {
        TransformSumsPlain(residual, sums);
    }
#else
    TransformSumsPlain(residual, sums);
#endif
}

}  // namespace

Block QuantiseResidualFast(const std::array<int, 64>& residual, int qp, double rounding,
                           std::array<float, 64>* magnitudes) {
    alignas(16) int32_t sums[64];
    TransformSums(residual, sums);
    const ZeroThresholds& zero = ThresholdsFor(qp, rounding);
    const double step = Step(qp);
    static const std::array<double, 64> kStepScale = [] {
        std::array<double, 64> scale{};
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 8; ++k) scale[i * 8 + k] = 1024.0 / (BasisNorm(i) * BasisNorm(k));
        return scale;
    }();
    Block levels{};
    for (int p = 0; p < 64; ++p) {
        const int32_t sum = sums[p];
        const int32_t magnitude = sum < 0 ? -sum : sum;
        if (magnitude <= zero.limit[p]) continue;
        if (magnitude <= zero.one[p])
            levels[p] = static_cast<int16_t>(sum < 0 ? -1 : 1);
        else
            levels[p] = static_cast<int16_t>(LevelOf(sum, p >> 3, p & 7, step, rounding));
        // Only where a level is coded: the rest stay as they are.
        if (magnitudes != nullptr)
            (*magnitudes)[p] = static_cast<float>(magnitude * kStepScale[p] / step);
    }
    return levels;
}

bool Fits16BitInverseTransformFast(const Block& levels, int qp) {
#if HARROWGATE_SSE2
    if (!WithinQuantiserRange(levels)) return Fits16BitInverseTransform(levels, qp);
    __m128i bad = _mm_setzero_si128();
    __m128i rows[8];
    for (int i = 0; i < 8; ++i) {
        __m128i low, high;
        Dequantise8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.data() + i * 8)), qp,
                    &low, &high);
        NoteOutside16Bits(low, &bad);
        NoteOutside16Bits(high, &bad);
        if (i == 0) {
            // The rounding for the final shift rides on the DC coefficient.
            low = _mm_add_epi32(low, _mm_cvtsi32_si128(8));
            NoteOutside16Bits(low, &bad);
        }
        rows[i] = _mm_packs_epi32(low, high);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(bad, _mm_setzero_si128())) != 0xFFFF) return false;
    // Every value the butterflies make is a sum of the inputs with weights of at most 57 in
    // magnitude all told (plus the rounding): inputs within +-72 (64 and the DC's 8) stay
    // within 57 * 72 + 4 in the row pass and 57 * 514 in the column pass.
    {
        __m128i large = _mm_setzero_si128();
        const __m128i limit = _mm_set1_epi16(64);
        const __m128i low_limit = _mm_set1_epi16(-64);
        for (int i = 0; i < 8; ++i) {
            const __m128i v =
                i == 0 ? _mm_sub_epi16(rows[0], _mm_setr_epi16(8, 0, 0, 0, 0, 0, 0, 0)) : rows[i];
            large = _mm_or_si128(
                large, _mm_or_si128(_mm_cmpgt_epi16(v, limit), _mm_cmplt_epi16(v, low_limit)));
        }
        if (_mm_movemask_epi8(large) == 0) return true;
    }
    // Row pass: lanes are rows, so the columns go into the butterfly.
    Transpose8x8(rows);
    __m128i out_low[8], out_high[8];
    {
        __m128i in_low[8], in_high[8];
        for (int k = 0; k < 8; ++k) {
            in_low[k] = Low32(rows[k]);
            in_high[k] = High32(rows[k]);
        }
        Butterfly4(in_low, _mm_set1_epi32(4), out_low, &bad);
        Butterfly4(in_high, _mm_set1_epi32(4), out_high, &bad);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(bad, _mm_setzero_si128())) != 0xFFFF) return false;
    // Every output fits 16 bits now; column n of the row results, lane i.
    __m128i columns[8];
    for (int n = 0; n < 8; ++n)
        columns[n] = _mm_packs_epi32(_mm_srai_epi32(out_low[n], 3), _mm_srai_epi32(out_high[n], 3));
    Transpose8x8(columns);  // now row i of the row results, lane n
    __m128i in_low[8], in_high[8];
    for (int i = 0; i < 8; ++i) {
        in_low[i] = Low32(columns[i]);
        in_high[i] = High32(columns[i]);
    }
    Butterfly4(in_low, _mm_setzero_si128(), out_low, &bad);
    Butterfly4(in_high, _mm_setzero_si128(), out_high, &bad);
    return _mm_movemask_epi8(_mm_cmpeq_epi32(bad, _mm_setzero_si128())) == 0xFFFF;
#else
    return Fits16BitInverseTransform(levels, qp);
#endif
}

void AddDequantisedBlockFast(const Block& levels, int qp, uint8_t* samples, int stride) {
#if HARROWGATE_SSE2
    if (!WithinQuantiserRange(levels)) {
        AddDequantisedBlock(levels, qp, samples, stride);
        return;
    }
    __m128i block[8];
    for (int i = 0; i < 8; ++i) {
        __m128i low, high;
        Dequantise8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.data() + i * 8)), qp,
                    &low, &high);
        // Kept to their low 16 bits, as the reference's int16_t does.
        low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
        high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
        block[i] = _mm_packs_epi32(low, high);
    }
    block[0] = _mm_add_epi16(block[0], _mm_setr_epi16(8, 0, 0, 0, 0, 0, 0, 0));
    // rows[i][n] = sum_k basis[k][n] * block[i][k]: pairs of k against the basis rows'
    // interleaved pairs.
    // Basis rows k and k + 1 interleaved over the columns from `column` on.
    const auto interleaved = [](int k, int column) {
        int16_t v[8];
        for (int i = 0; i < 4; ++i) {
            v[2 * i] = static_cast<int16_t>(kTransformBasis[k][column + i]);
            v[2 * i + 1] = static_cast<int16_t>(kTransformBasis[k + 1][column + i]);
        }
        return _mm_setr_epi16(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
    };
    __m128i pair_low[4], pair_high[4];
    for (int j = 0; j < 4; ++j) {
        pair_low[j] = interleaved(2 * j, 0);
        pair_high[j] = interleaved(2 * j, 4);
    }
    __m128i rows[8];
    const __m128i four = _mm_set1_epi32(4);
    for (int i = 0; i < 8; ++i) {
        const __m128i b = block[i];
        const __m128i p0 = _mm_shuffle_epi32(b, _MM_SHUFFLE(0, 0, 0, 0));
        const __m128i p1 = _mm_shuffle_epi32(b, _MM_SHUFFLE(1, 1, 1, 1));
        const __m128i p2 = _mm_shuffle_epi32(b, _MM_SHUFFLE(2, 2, 2, 2));
        const __m128i p3 = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 3, 3, 3));
        __m128i low = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(p0, pair_low[0]), _mm_madd_epi16(p1, pair_low[1])),
            _mm_add_epi32(_mm_madd_epi16(p2, pair_low[2]), _mm_madd_epi16(p3, pair_low[3])));
        __m128i high = _mm_add_epi32(
            _mm_add_epi32(_mm_madd_epi16(p0, pair_high[0]), _mm_madd_epi16(p1, pair_high[1])),
            _mm_add_epi32(_mm_madd_epi16(p2, pair_high[2]), _mm_madd_epi16(p3, pair_high[3])));
        low = _mm_srai_epi32(_mm_add_epi32(low, four), 3);
        high = _mm_srai_epi32(_mm_add_epi32(high, four), 3);
        low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
        high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
        rows[i] = _mm_packs_epi32(low, high);
    }
    // out[m][n] = sum_i basis[i][m] * rows[i][n]: pairs of rows against pairs of weights.
    __m128i interleaved_low[4], interleaved_high[4];
    for (int j = 0; j < 4; ++j) {
        interleaved_low[j] = _mm_unpacklo_epi16(rows[2 * j], rows[2 * j + 1]);
        interleaved_high[j] = _mm_unpackhi_epi16(rows[2 * j], rows[2 * j + 1]);
    }
    const __m128i zero = _mm_setzero_si128();
    for (int m = 0; m < 8; ++m) {
        __m128i low = _mm_setzero_si128(), high = _mm_setzero_si128();
        for (int j = 0; j < 4; ++j) {
            const uint32_t pair = (static_cast<uint32_t>(kTransformBasis[2 * j + 1][m]) << 16) |
                                  (static_cast<uint32_t>(kTransformBasis[2 * j][m]) & 0xFFFFu);
            const __m128i weights = _mm_set1_epi32(static_cast<int>(pair));
            low = _mm_add_epi32(low, _mm_madd_epi16(interleaved_low[j], weights));
            high = _mm_add_epi32(high, _mm_madd_epi16(interleaved_high[j], weights));
        }
        // Saturating to 16 bits before the saturating add keeps the clipped result.
        const __m128i residual = _mm_packs_epi32(_mm_srai_epi32(low, 7), _mm_srai_epi32(high, 7));
        uint8_t* line = samples + m * stride;
        const __m128i current =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(line)), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(line),
                         _mm_packus_epi16(_mm_adds_epi16(current, residual), zero));
    }
#else
    AddDequantisedBlock(levels, qp, samples, stride);
#endif
}

constexpr int kHalfTaps[6] = {0, -1, 5, 5, -1, 0};
constexpr int kQuarterLeftTaps[6] = {-1, -2, 96, 42, -7, 0};
constexpr int kQuarterRightTaps[6] = {0, -7, 42, 96, -2, -1};

const int* LumaTaps(int fraction) {
    return fraction == 1 ? kQuarterLeftTaps : fraction == 2 ? kHalfTaps : kQuarterRightTaps;
}

namespace scalar_kernels {

int Sad16x16(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    int total = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) total += std::abs(a[y * a_stride + x] - b[y * b_stride + x]);
    return total;
}

void Sad4x4Row(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int count,
               int* sads) {
    for (int i = 0; i < count; ++i) {
        int total = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                total += std::abs(a[y * a_stride + x] - b[y * b_stride + i + x]);
        sads[i] = total;
    }
}

void Reduce4x4Row(const uint8_t* in, int stride, int count, uint8_t* out) {
    for (int x = 0; x < count; ++x) {
        int sum = 0;
        for (int j = 0; j < 4; ++j) {
            const uint8_t* p = in + j * stride + x * 4;
            sum += p[0] + p[1] + p[2] + p[3];
        }
        out[x] = static_cast<uint8_t>((sum + 8) >> 4);
    }
}

void DifferenceStats(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int width,
                     int height, long long* squared, int* worst) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int d = a[y * a_stride + x] - b[y * b_stride + x];
            *squared += d * d;
            *worst = std::max(*worst, std::abs(d));
        }
}

int Sum16x16(const uint8_t* a, int stride) {
    int sum = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) sum += a[y * stride + x];
    return sum;
}

int Deviation16x16(const uint8_t* a, int stride, int mean) {
    int total = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) total += std::abs(a[y * stride + x] - mean);
    return total;
}

namespace {
uint8_t Clip(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}
}  // namespace

void InterpolateLuma16(const uint8_t* window, int stride, bool half_x, bool half_y,
                       uint8_t out[256]) {
    constexpr int kSide = 19;
    const auto at = [&](int x, int y) -> int { return window[(y + 1) * stride + x + 1]; };
    if (!half_x && !half_y) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) out[y * 16 + x] = static_cast<uint8_t>(at(x, y));
        return;
    }
    if (!half_x) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                out[y * 16 + x] =
                    Clip((-at(x, y - 1) + 5 * at(x, y) + 5 * at(x, y + 1) - at(x, y + 2) + 4) >> 3);
        return;
    }
    // The across filter's unrounded values (8 times the sample), rows -1 to 17.
    int across[kSide * 16];
    for (int y = -1; y < 18; ++y)
        for (int x = 0; x < 16; ++x)
            across[(y + 1) * 16 + x] =
                -at(x - 1, y) + 5 * at(x, y) + 5 * at(x + 1, y) - at(x + 2, y);
    const auto half = [&](int x, int y) { return across[(y + 1) * 16 + x]; };
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            if (!half_y) {
                out[y * 16 + x] = Clip((half(x, y) + 4) >> 3);
            } else {
                // The centre: the across values filtered down.
                const int sum =
                    -half(x, y - 1) + 5 * half(x, y) + 5 * half(x, y + 1) - half(x, y + 2);
                out[y * 16 + x] = Clip((sum + 32) >> 6);
            }
        }
}

bool QuarterLuma16(const uint8_t* window, int stride, int fx, int fy, uint8_t out[256]) {
    const auto at = [&](int x, int y) -> int { return window[(y + 2) * stride + x + 2]; };
    if (fy == 0 || fx == 0) {
        const int fraction = fx == 0 ? fy : fx;
        const int* taps = LumaTaps(fraction);
        const int shift = fraction == 2 ? 3 : 7;
        int largest = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                int sum = 1 << (shift - 1);
                for (int k = 0; k < 6; ++k)
                    sum += taps[k] * (fy == 0 ? at(x - 2 + k, y) : at(x, y - 2 + k));
                largest = std::max(largest, sum);
                out[y * 16 + x] = Clip(sum >> shift);
            }
        return fx == 0 && largest > 32767;
    }
    const bool odd = (fx & 1) != 0 && (fy & 1) != 0;
    const int* across = LumaTaps(odd ? 2 : fx);
    const int* down = LumaTaps(odd ? 2 : fy);
    const int shift = odd ? 7 : 10;
    int16_t temp[21 * 16];
    for (int y = -2; y < 19; ++y)
        for (int x = 0; x < 16; ++x) {
            int sum = 0;
            for (int k = 0; k < 6; ++k) sum += across[k] * at(x - 2 + k, y);
            temp[(y + 2) * 16 + x] = static_cast<int16_t>(sum);
        }
    const int extra_x = fx == 3 ? 1 : 0, extra_y = fy == 3 ? 1 : 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            int sum = odd ? 64 * at(x + extra_x, y + extra_y) : 0;
            for (int k = 0; k < 6; ++k) sum += down[k] * temp[(y + k) * 16 + x];
            out[y * 16 + x] = Clip((sum + (1 << (shift - 1))) >> shift);
        }
    return false;
}

void BilinearChroma8(const uint8_t* ref, int stride, int fx, int fy, uint8_t out[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint8_t* r = ref + y * stride + x;
            const int v = (8 - fx) * (8 - fy) * r[0] + fx * (8 - fy) * r[1] +
                          (8 - fx) * fy * r[stride] + fx * fy * r[stride + 1];
            out[y * 8 + x] = static_cast<uint8_t>((v + 32) >> 6);
        }
}

}  // namespace scalar_kernels

#if HARROWGATE_SSE2

namespace {

inline __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i Load8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
inline int SumSad(__m128i sad) {
    return _mm_cvtsi128_si32(sad) + _mm_cvtsi128_si32(_mm_srli_si128(sad, 8));
}
// -a + 5b + 5c - d on 16-bit lanes.
inline __m128i Taps(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i middle = _mm_add_epi16(b, c);
    return _mm_sub_epi16(_mm_add_epi16(middle, _mm_slli_epi16(middle, 2)), _mm_add_epi16(a, d));
}

}  // namespace

int Sad16x16(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    __m128i total = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y)
        total =
            _mm_add_epi64(total, _mm_sad_epu8(Load16(a + y * a_stride), Load16(b + y * b_stride)));
    return SumSad(total);
}

void Sad4x4Row(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int count,
               int* sads) {
    const auto row = [](const uint8_t* p) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    // The block's 16 samples in one register, against each position's 16 gathered alike.
    const __m128i block =
        _mm_set_epi32(row(a + 3 * a_stride), row(a + 2 * a_stride), row(a + a_stride), row(a));
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = b + i;
        const __m128i other =
            _mm_set_epi32(row(p + 3 * b_stride), row(p + 2 * b_stride), row(p + b_stride), row(p));
        sads[i] = SumSad(_mm_sad_epu8(block, other));
    }
}

void Reduce4x4Row(const uint8_t* in, int stride, int count, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i eight = _mm_set1_epi32(8);
    // 16 columns' sums of four samples down, then of four across: four results.
    const auto quarter = [&](const uint8_t* p) {
        __m128i low = zero, high = zero;
        for (int j = 0; j < 4; ++j) {
            const __m128i v = Load16(p + j * stride);
            low = _mm_add_epi16(low, _mm_unpacklo_epi8(v, zero));
            high = _mm_add_epi16(high, _mm_unpackhi_epi8(v, zero));
        }
        const __m128i pairs =
            _mm_packs_epi32(_mm_madd_epi16(low, ones), _mm_madd_epi16(high, ones));
        return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, ones), eight), 4);
    };
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m128i words = _mm_packs_epi32(quarter(in + x * 4), quarter(in + x * 4 + 16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, zero));
    }
    scalar_kernels::Reduce4x4Row(in + x * 4, stride, count - x, out + x);
}

void DifferenceStats(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int width,
                     int height, long long* squared, int* worst) {
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero, largest = zero;
    for (int y = 0; y < height; ++y) {
        const __m128i p = width == 16 ? Load16(a + y * a_stride) : Load8(a + y * a_stride);
        const __m128i q = width == 16 ? Load16(b + y * b_stride) : Load8(b + y * b_stride);
        const __m128i d = _mm_or_si128(_mm_subs_epu8(p, q), _mm_subs_epu8(q, p));
        largest = _mm_max_epu8(largest, d);
        const __m128i low = _mm_unpacklo_epi8(d, zero), high = _mm_unpackhi_epi8(d, zero);
        sum =
            _mm_add_epi32(sum, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
    }
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    *squared += static_cast<long long>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    alignas(16) uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), largest);
    int most = *worst;
    for (uint8_t v : bytes) most = std::max<int>(most, v);
    *worst = most;
}

int Sum16x16(const uint8_t* a, int stride) {
    __m128i total = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y)
        total = _mm_add_epi64(total, _mm_sad_epu8(Load16(a + y * stride), _mm_setzero_si128()));
    return SumSad(total);
}

int Deviation16x16(const uint8_t* a, int stride, int mean) {
    if (mean < 0 || mean > 255) return scalar_kernels::Deviation16x16(a, stride, mean);
    const __m128i m = _mm_set1_epi8(static_cast<char>(mean));
    __m128i total = _mm_setzero_si128();
    for (int y = 0; y < 16; ++y)
        total = _mm_add_epi64(total, _mm_sad_epu8(Load16(a + y * stride), m));
    return SumSad(total);
}

void InterpolateLuma16(const uint8_t* window, int stride, bool half_x, bool half_y,
                       uint8_t out[256]) {
    constexpr int kSide = 19;
    const __m128i zero = _mm_setzero_si128();
    // Row y's samples from column x - 1 + offset, 16 of them.
    const auto row = [&](int y, int offset) { return Load16(window + (y + 1) * stride + offset); };
    if (!half_x && !half_y) {
        for (int y = 0; y < 16; ++y)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 16), row(y, 1));
        return;
    }
    const __m128i four = _mm_set1_epi16(4);
    if (!half_x) {
        for (int y = 0; y < 16; ++y) {
            const __m128i r[4] = {row(y - 1, 1), row(y, 1), row(y + 1, 1), row(y + 2, 1)};
            __m128i result[2];
            for (int h = 0; h < 2; ++h) {
                __m128i v[4];
                for (int i = 0; i < 4; ++i)
                    v[i] = h == 0 ? _mm_unpacklo_epi8(r[i], zero) : _mm_unpackhi_epi8(r[i], zero);
                result[h] = _mm_srai_epi16(_mm_add_epi16(Taps(v[0], v[1], v[2], v[3]), four), 3);
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 16),
                             _mm_packus_epi16(result[0], result[1]));
        }
        return;
    }
    // The across filter's unrounded values of rows -1 to 17 (they fit 16 bits: -510..2550).
    __m128i across[kSide][2];
    for (int y = -1; y < 18; ++y) {
        const __m128i r[4] = {row(y, 0), row(y, 1), row(y, 2), row(y, 3)};
        for (int h = 0; h < 2; ++h) {
            __m128i v[4];
            for (int i = 0; i < 4; ++i)
                v[i] = h == 0 ? _mm_unpacklo_epi8(r[i], zero) : _mm_unpackhi_epi8(r[i], zero);
            across[y + 1][h] = Taps(v[0], v[1], v[2], v[3]);
        }
    }
    const __m128i thirty_two = _mm_set1_epi16(32);
    for (int y = 0; y < 16; ++y) {
        __m128i result[2];
        for (int h = 0; h < 2; ++h) {
            if (!half_y) {
                result[h] = _mm_srai_epi16(_mm_add_epi16(across[y + 1][h], four), 3);
            } else {
                // At most 10 * 2550 + 2 * 510 in magnitude: still 16 bits.
                result[h] = _mm_srai_epi16(_mm_add_epi16(Taps(across[y][h], across[y + 1][h],
                                                              across[y + 2][h], across[y + 3][h]),
                                                         thirty_two),
                                           6);
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 16),
                         _mm_packus_epi16(result[0], result[1]));
    }
}

bool QuarterLuma16(const uint8_t* window, int stride, int fx, int fy, uint8_t out[256]) {
    const __m128i zero = _mm_setzero_si128();
    // 16 samples of row y from column x - 2 + offset, widened to two halves.
    const auto widened = [&](int y, int offset, __m128i halves[2]) {
        const __m128i r = Load16(window + (y + 2) * stride + offset);
        halves[0] = _mm_unpacklo_epi8(r, zero);
        halves[1] = _mm_unpackhi_epi8(r, zero);
    };
    if (fy == 0 || fx == 0) {
        const int fraction = fx == 0 ? fy : fx;
        const int* taps = LumaTaps(fraction);
        // Sums lie in [-10 * 255, 138 * 255]: raised by a whole number of output steps past
        // the lowest, they fit unsigned 16 bits, shift logically, and saturate back to 0.
        const int shift = fraction == 2 ? 3 : 7;
        const int lift = fraction == 2 ? 64 : 20;  // output steps: 512 or 2560 in sums
        const __m128i offset =
            _mm_set1_epi16(static_cast<int16_t>((lift << shift) + (1 << (shift - 1))));
        const __m128i steps = _mm_set1_epi16(static_cast<int16_t>(lift));
        __m128i weights[6];
        for (int k = 0; k < 6; ++k) weights[k] = _mm_set1_epi16(static_cast<int16_t>(taps[k]));
        const __m128i count = _mm_cvtsi32_si128(shift);
        // A sum past 32767 lies past 32767 + the lift here: what is left above that.
        const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(32767 + (lift << shift)));
        __m128i past = zero;
        for (int y = 0; y < 16; ++y) {
            __m128i sums[2] = {offset, offset};
            for (int k = 0; k < 6; ++k) {
                if (taps[k] == 0) continue;
                __m128i v[2];
                if (fy == 0)
                    widened(y, k, v);
                else
                    widened(y - 2 + k, 2, v);
                for (int h = 0; h < 2; ++h)
                    sums[h] = _mm_add_epi16(sums[h], _mm_mullo_epi16(v[h], weights[k]));
            }
            for (int h = 0; h < 2; ++h) {
                past = _mm_or_si128(past, _mm_subs_epu16(sums[h], limit));
                sums[h] = _mm_subs_epu16(_mm_srl_epi16(sums[h], count), steps);
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 16),
                             _mm_packus_epi16(sums[0], sums[1]));
        }
        return fx == 0 && _mm_movemask_epi8(_mm_cmpeq_epi8(past, zero)) != 0xFFFF;
    }
    const bool odd = (fx & 1) != 0 && (fy & 1) != 0;
    const int* across = LumaTaps(odd ? 2 : fx);
    const int* down = LumaTaps(odd ? 2 : fy);
    const int shift = odd ? 7 : 10;
    // Across, in 16 bits as the decoder keeps them (a quarter filter's sums can wrap).
    __m128i temp[21][2];
    __m128i weights[6];
    for (int k = 0; k < 6; ++k) weights[k] = _mm_set1_epi16(static_cast<int16_t>(across[k]));
    for (int y = -2; y < 19; ++y) {
        __m128i sums[2] = {zero, zero};
        for (int k = 0; k < 6; ++k) {
            if (across[k] == 0) continue;
            __m128i v[2];
            widened(y, k, v);
            for (int h = 0; h < 2; ++h)
                sums[h] = _mm_add_epi16(sums[h], _mm_mullo_epi16(v[h], weights[k]));
        }
        temp[y + 2][0] = sums[0];
        temp[y + 2][1] = sums[1];
    }
    // Down in 32 bits: taps in pairs against rows interleaved in pairs.
    __m128i pairs[3];
    for (int k = 0; k < 3; ++k)
        pairs[k] = _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(down[2 * k + 1]) << 16) |
                                                   (static_cast<uint32_t>(down[2 * k]) & 0xFFFF)));
    const __m128i rounding = _mm_set1_epi32(1 << (shift - 1));
    const __m128i count = _mm_cvtsi32_si128(shift);
    const int extra_x = fx == 3 ? 1 : 0, extra_y = fy == 3 ? 1 : 0;
    for (int y = 0; y < 16; ++y) {
        __m128i centre[2] = {zero, zero};
        if (odd) widened(y + extra_y, 2 + extra_x, centre);
        __m128i result[2];
        for (int h = 0; h < 2; ++h) {
            __m128i low = rounding, high = rounding;
            for (int k = 0; k < 3; ++k) {
                const __m128i a = temp[y + 2 * k][h], b = temp[y + 2 * k + 1][h];
                low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pairs[k]));
                high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pairs[k]));
            }
            if (odd) {
                // 64 times the sample: as a pair (sample, 0) times (64, 0).
                const __m128i sixty_four = _mm_set1_epi32(64);
                low = _mm_add_epi32(
                    low, _mm_madd_epi16(_mm_unpacklo_epi16(centre[h], zero), sixty_four));
                high = _mm_add_epi32(
                    high, _mm_madd_epi16(_mm_unpackhi_epi16(centre[h], zero), sixty_four));
            }
            result[h] = _mm_packs_epi32(_mm_sra_epi32(low, count), _mm_sra_epi32(high, count));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 16),
                         _mm_packus_epi16(result[0], result[1]));
    }
    return false;
}

void BilinearChroma8(const uint8_t* ref, int stride, int fx, int fy, uint8_t out[64]) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i w00 = _mm_set1_epi16(static_cast<int16_t>((8 - fx) * (8 - fy)));
    const __m128i w10 = _mm_set1_epi16(static_cast<int16_t>(fx * (8 - fy)));
    const __m128i w01 = _mm_set1_epi16(static_cast<int16_t>((8 - fx) * fy));
    const __m128i w11 = _mm_set1_epi16(static_cast<int16_t>(fx * fy));
    const __m128i thirty_two = _mm_set1_epi16(32);
    __m128i left = _mm_unpacklo_epi8(Load8(ref), zero);
    __m128i right = _mm_unpacklo_epi8(Load8(ref + 1), zero);
    for (int y = 0; y < 8; ++y) {
        const uint8_t* below = ref + (y + 1) * stride;
        const __m128i below_left = _mm_unpacklo_epi8(Load8(below), zero);
        const __m128i below_right = _mm_unpacklo_epi8(Load8(below + 1), zero);
        // At most 64 * 255: 16 bits.
        const __m128i v = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(left, w00), _mm_mullo_epi16(right, w10)),
            _mm_add_epi16(_mm_mullo_epi16(below_left, w01), _mm_mullo_epi16(below_right, w11)));
        const __m128i result = _mm_srli_epi16(_mm_add_epi16(v, thirty_two), 6);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * 8), _mm_packus_epi16(result, zero));
        left = below_left;
        right = below_right;
    }
}

#else  // no SSE2: the plain loops

int Sad16x16(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride) {
    return scalar_kernels::Sad16x16(a, a_stride, b, b_stride);
}
void Sad4x4Row(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int count,
               int* sads) {
    scalar_kernels::Sad4x4Row(a, a_stride, b, b_stride, count, sads);
}
void DifferenceStats(const uint8_t* a, int a_stride, const uint8_t* b, int b_stride, int width,
                     int height, long long* squared, int* worst) {
    scalar_kernels::DifferenceStats(a, a_stride, b, b_stride, width, height, squared, worst);
}
void Reduce4x4Row(const uint8_t* in, int stride, int count, uint8_t* out) {
    scalar_kernels::Reduce4x4Row(in, stride, count, out);
}
int Sum16x16(const uint8_t* a, int stride) {
    return scalar_kernels::Sum16x16(a, stride);
}
int Deviation16x16(const uint8_t* a, int stride, int mean) {
    return scalar_kernels::Deviation16x16(a, stride, mean);
}
void InterpolateLuma16(const uint8_t* window, int stride, bool half_x, bool half_y,
                       uint8_t out[256]) {
    scalar_kernels::InterpolateLuma16(window, stride, half_x, half_y, out);
}
bool QuarterLuma16(const uint8_t* window, int stride, int fx, int fy, uint8_t out[256]) {
    return scalar_kernels::QuarterLuma16(window, stride, fx, fy, out);
}
void BilinearChroma8(const uint8_t* ref, int stride, int fx, int fy, uint8_t out[64]) {
    scalar_kernels::BilinearChroma8(ref, stride, fx, fy, out);
}

#endif

}  // namespace harrowgate
