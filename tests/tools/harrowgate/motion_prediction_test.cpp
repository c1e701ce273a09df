#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tools/harrowgate/motion.h"
#include "tools/harrowgate/picture_coder.h"

using namespace harrowgate;

namespace {

const MotionInfo kNone{0, 0, kNoNeighbour};
const MotionInfo kIntra{0, 0, kIntraRef};
MotionInfo Moving(int x, int y) {
    return MotionInfo{x, y, 0};
}

}  // namespace

TEST(MotionPrediction, SkippedMacroblocksStayStillAtEdgesAndNextToStillOnes) {
    const MotionInfo p = PredictMotion(kNone, Moving(8, 8), Moving(8, 8), kNone, true);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    const MotionInfo q = PredictMotion(Moving(0, 0), Moving(8, 8), Moving(8, 8), kNone, true);
    EXPECT_EQ(q.x, 0);
    // An intra neighbour is not "still": the ordinary rules apply, here the one moving
    // neighbour wins.
    const MotionInfo r = PredictMotion(kIntra, Moving(16, -8), kIntra, kNone, true);
    EXPECT_EQ(r.x, 16);
    EXPECT_EQ(r.y, -8);
}

TEST(MotionPrediction, OneMovingNeighbourIsTaken) {
    const MotionInfo p = PredictMotion(kIntra, kNone, Moving(-24, 8), kNone, false);
    EXPECT_EQ(p.x, -24);
    EXPECT_EQ(p.y, 8);
    // Above-right missing: above-left stands in for it.
    const MotionInfo q = PredictMotion(kIntra, kIntra, kNone, Moving(40, 0), false);
    EXPECT_EQ(q.x, 40);
}

TEST(MotionPrediction, MedianTakesTheCandidateOppositeTheMiddleDistance) {
    // Distances a-b 8, b-c 40, c-a 48: the middle one is b-c's, so a is taken.
    const MotionInfo p = PredictMotion(Moving(0, 0), Moving(8, 0), Moving(48, 0), kNone, false);
    EXPECT_EQ(p.x, 0);
    // Distances a-b 16, b-c 48, c-a 32: the middle one is c-a's, so b is taken.
    const MotionInfo q = PredictMotion(Moving(0, 0), Moving(16, 0), Moving(0, 32), kNone, false);
    EXPECT_EQ(q.x, 16);
    EXPECT_EQ(q.y, 0);
    // Intra and missing neighbours count as zero vectors among two moving ones.
    const MotionInfo r = PredictMotion(Moving(8, 8), kIntra, Moving(24, 8), kNone, false);
    // Distances: a-b 16, b-c 32, c-a 16: the middle (16) equals a-b's first, so c is taken.
    EXPECT_EQ(r.x, 24);
}

namespace {

// A texture moving 10 samples right per picture: wider than a small search range.
harrowgate::Frame MovedTexture(int width, int height, int shift) {
    harrowgate::Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.luma.Row(y)[x] =
                static_cast<uint8_t>(128 + 60 * std::sin((x - shift) * 0.37) * std::cos(y * 0.29) +
                                     30 * std::sin((x - shift + y) * 0.11));
    for (Plane* p : {&f.cb, &f.cr})
        for (int y = 0; y < p->height; ++y)
            for (int x = 0; x < p->width; ++x) p->Row(y)[x] = static_cast<uint8_t>(128 + x - y);
    return f;
}

// Largest |component| of the coded vectors, in quarter samples, and whether any was found.
int LargestVector(int search_range, int& inter_macroblocks) {
    harrowgate::PictureCoder coder(128, 64, 24, search_range);
    coder.SetSubSampleMotion(true);  // as the program codes
    coder.Encode(MovedTexture(128, 64, 0), harrowgate::PictureType::kIntra, 0);
    coder.Encode(MovedTexture(128, 64, 10), harrowgate::PictureType::kPredicted, 1);
    int largest = 0;
    inter_macroblocks = 0;
    for (const harrowgate::MotionInfo& m : coder.Motion()) {
        if (m.ref < 0) continue;
        ++inter_macroblocks;
        largest = std::max({largest, std::abs(m.x), std::abs(m.y)});
    }
    return largest;
}

}  // namespace

TEST(MotionSearch, VectorsStayWithinTheSearchRange) {
    int inter = 0;
    // Wide enough: the 10-sample move is found.
    EXPECT_GE(LargestVector(32, inter), 40);
    EXPECT_GT(inter, 0);
    for (int range : {0, 1, 4, 7}) {
        EXPECT_LE(LargestVector(range, inter), range * 4) << "range " << range;
    }
}

TEST(MotionSearch, SubSampleVectorsFollowMotionBetweenSamples) {
    // A smooth texture moved by 2.5 samples: whole samples leave a residual, half and quarter
    // ones need not.
    const auto texture = [](double x, double y) {
        return 128 + 60 * std::sin(x * 0.21) * std::cos(y * 0.17) + 30 * std::sin((x + y) * 0.09);
    };
    const auto picture = [&](double shift) {
        Frame f;
        f.Resize(128, 64);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                f.luma.Row(y)[x] = static_cast<uint8_t>(std::lround(texture(x - shift, y)));
        for (Plane* p : {&f.cb, &f.cr})
            for (int y = 0; y < p->height; ++y)
                for (int x = 0; x < p->width; ++x)
                    p->Row(y)[x] =
                        static_cast<uint8_t>(std::lround(texture(2 * x - shift, 2 * y) / 2 + 64));
        return f;
    };
    size_t sizes[2];
    int between_samples[2] = {0, 0}, near_the_motion[2] = {0, 0}, moved[2] = {0, 0};
    for (int sub = 0; sub < 2; ++sub) {
        PictureCoder coder(128, 64, 20);
        coder.SetSubSampleMotion(sub == 1);
        coder.Encode(picture(0), PictureType::kIntra, 0);
        sizes[sub] = coder.Encode(picture(2.5), PictureType::kPredicted, 1).size();
        for (const MotionInfo& m : coder.Motion()) {
            if (m.ref < 0) continue;
            ++moved[sub];
            between_samples[sub] += (m.x & 3) != 0 || (m.y & 3) != 0;
            // Moved 2.5 samples right: the reference lies 10 quarter samples left, give or take
            // one.
            near_the_motion[sub] += std::abs(m.x + 10) <= 1 && std::abs(m.y) <= 1;
        }
    }
    EXPECT_EQ(between_samples[0], 0);
    EXPECT_GT(between_samples[1], 10);
    EXPECT_GT(near_the_motion[1], moved[1] * 3 / 4);
    EXPECT_LT(sizes[1], sizes[0] * 9 / 10);
}

TEST(MotionPrediction, MedianCandidatesAreRescaledToTheDistance) {
    // With B pictures between them, references lie 3 pictures (gap 6) apart: the decoder
    // rescales by 512 / 6 = 85, so 6 * 85 = 510 shortens long vectors, rounding to nearest
    // and away from zero at one half.
    EXPECT_EQ(PictureGap(3, 0), 6);
    EXPECT_EQ(PictureGap(1, 255), 4);  // picture_distance wraps at 256
    EXPECT_EQ(ScaleNeighbourComponent(200, 6), 199);
    EXPECT_EQ(ScaleNeighbourComponent(-200, 6), -199);
    EXPECT_EQ(ScaleNeighbourComponent(100, 6), 100);
    for (int gap : {2, 4, 8})
        for (int v : {-301, -7, 0, 5, 301}) EXPECT_EQ(ScaleNeighbourComponent(v, gap), v);
    // Median: a-b is the middle distance, so c is taken, and comes out rescaled...
    const MotionInfo p =
        PredictMotion(Moving(200, 0), Moving(-200, 0), Moving(202, 0), kNone, false, 6);
    EXPECT_EQ(p.x, 201);
    // ...while a single moving neighbour is taken as it is.
    const MotionInfo q = PredictMotion(kIntra, Moving(200, 40), kNone, kNone, false, 6);
    EXPECT_EQ(q.x, 200);
    EXPECT_EQ(q.y, 40);
}

TEST(MotionPrediction, DirectAndSymmetricVectorsFollowTheDistances) {
    MotionInfo forward, backward;
    // Co-located vector over 3 pictures; the B picture 1 after its forward reference and 2
    // before its backward one: a third forward, two thirds back, magnitudes rounded.
    DirectVectors(Moving(12, -12), 6, 2, 4, &forward, &backward);
    EXPECT_EQ(forward.x, 4);
    EXPECT_EQ(forward.y, -4);
    EXPECT_EQ(backward.x, -8);
    EXPECT_EQ(backward.y, 8);
    DirectVectors(Moving(0, 7), 6, 4, 2, &forward, &backward);
    EXPECT_EQ(forward.x, 0);
    EXPECT_EQ(backward.x, 0);
    EXPECT_EQ(forward.y, 4);  // 7 * 2/3 = 4.67, the decoder's fixed point gives 4
    EXPECT_EQ(backward.y, -2);
    // Symmetric: the forward vector mirrored and scaled by backward / forward distance.
    const MotionInfo mirrored = SymmetricBackward(Moving(8, -3), 4, 2);
    EXPECT_EQ(mirrored.x, -4);
    EXPECT_EQ(mirrored.y, 1);  // -3 / 2 rounds to -1 (towards plus), mirrored to 1
}

TEST(MotionPrediction, QuarterSamplePredictionAgreesAtHalfSamplesAndStaysInRange) {
    Frame f;
    f.Resize(48, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            f.luma.Row(y)[x] = static_cast<uint8_t>(((x * 37) ^ (y * 91)) & 255);
    uint8_t a[256], b[256];
    for (int vy = -9; vy <= 9; ++vy)
        for (int vx = -9; vx <= 9; ++vx) {
            PredictLumaBlockQuarter16(f.luma, 16, 16, vx * 2, vy * 2, a);
            PredictLumaBlock16(f.luma, 16, 16, vx * 2, vy * 2, b);
            ASSERT_EQ(std::vector<uint8_t>(a, a + 256), std::vector<uint8_t>(b, b + 256))
                << vx * 2 << "," << vy * 2;
        }
    // A flat picture predicts flat at every quarter position, past the edges too: the taps
    // of each filter sum to their divisor.
    Frame flat;
    flat.Resize(32, 32);
    std::fill(flat.luma.samples.begin(), flat.luma.samples.end(), 255);
    for (int fy = 0; fy < 4; ++fy)
        for (int fx = 0; fx < 4; ++fx) {
            PredictLumaBlockQuarter16(flat.luma, 16, 0, 40 + fx, -40 + fy, a);
            EXPECT_TRUE(std::all_of(a, a + 256, [](uint8_t v) { return v == 255; }))
                << fx << "," << fy;
        }
}

TEST(MotionSearch, AFarMoveIsFoundWhereNoNearbyVectorLeadsToIt) {
    // Value noise (a random lattice every 8 samples, interpolated) moved by (46, -22): no
    // neighbour or earlier vector points there, and a walk from zero meets only local minima.
    const int width = 256, height = 128, step = 8;
    std::vector<int> lattice((width / step + 16) * (height / step + 16));
    unsigned seed = 7;
    for (int& v : lattice) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<int>((seed >> 16) % 200) + 28;
    }
    const int columns = width / step + 16;
    const auto texture = [&](int x, int y) {
        x += 8 * step;  // keep the lattice index positive for moved pictures
        y += 8 * step;
        const int gx = x / step, gy = y / step, fx = x % step, fy = y % step;
        const auto at = [&](int i, int j) { return lattice[(gy + j) * columns + gx + i]; };
        const int top = at(0, 0) * (step - fx) + at(1, 0) * fx;
        const int bottom = at(0, 1) * (step - fx) + at(1, 1) * fx;
        return static_cast<uint8_t>((top * (step - fy) + bottom * fy) / (step * step));
    };
    const auto picture = [&](int shift_x, int shift_y) {
        Frame f;
        f.Resize(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) f.luma.Row(y)[x] = texture(x - shift_x, y - shift_y);
        for (Plane* p : {&f.cb, &f.cr})
            for (int y = 0; y < p->height; ++y)
                for (int x = 0; x < p->width; ++x) p->Row(y)[x] = 128;
        return f;
    };
    PictureCoder coder(width, height, 20, 64);
    coder.SetSubSampleMotion(true);
    coder.Encode(picture(0, 0), PictureType::kIntra, 0);
    coder.Encode(picture(46, -22), PictureType::kPredicted, 1);
    // Macroblocks whose match lies inside the reference.
    int inside = 0, found = 0;
    const int mb_width = width / 16;
    for (int mb_y = 0; mb_y < height / 16; ++mb_y)
        for (int mb_x = 0; mb_x < mb_width; ++mb_x) {
            const int x = mb_x * 16 - 46, y = mb_y * 16 + 22;
            if (x < 0 || y + 16 > height) continue;
            ++inside;
            const MotionInfo& m = coder.Motion()[mb_y * mb_width + mb_x];
            found += m.ref == 0 && m.x == -46 * 4 && m.y == 22 * 4;
        }
    ASSERT_GT(inside, 30);
    EXPECT_GE(found * 10, inside * 9) << found << " of " << inside;
}
