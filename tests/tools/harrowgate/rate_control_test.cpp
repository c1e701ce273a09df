#include "tools/harrowgate/rate_control.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/harrowgate/picture_coder.h"

using namespace harrowgate;

namespace {

Frame Noise(int width, int height, unsigned seed) {
    Frame f;
    f.Resize(width, height);
    for (Plane* p : {&f.luma, &f.cb, &f.cr})
        for (uint8_t& v : p->samples) {
            seed = seed * 1103515245u + 12345u;
            v = static_cast<uint8_t>(seed >> 16);
        }
    return f;
}

}  // namespace

TEST(RateControl, PictureOverTheByteLimitIsCodedCoarser) {
    PictureCoder coder(64, 48, 10);
    const size_t free_size = coder.Encode(Noise(64, 48, 1), PictureType::kIntra, 0).size();
    for (PictureType type : {PictureType::kIntra, PictureType::kPredicted}) {
        coder.SetByteLimit(free_size / 3);
        const size_t size = coder.Encode(Noise(64, 48, 7), type, 1).size();
        EXPECT_LE(size, free_size / 3);
        EXPECT_GT(coder.LastQp(), 10);
    }
    // A limit nothing but repeating the previous picture meets.
    coder.SetByteLimit(40);
    EXPECT_LE(coder.Encode(Noise(64, 48, 9), PictureType::kPredicted, 2).size(), 40u);
}

TEST(RateControl, QuantiserSettlesOnTheTargetAndTheBufferNeverRunsDry) {
    // Pictures whose size halves every 8 quantiser steps: the controller must settle near
    // the target from a starting quantiser far too fine.
    RateController rate(1e6, 25, 10, 0, 1e6);
    EXPECT_EQ(rate.NextQp(true, 0), 0);
    double late = 0;  // the last 100 pictures, after settling
    for (int i = 0; i < 200; ++i) {
        const bool intra = i % 10 == 0;
        int qp = rate.NextQp(intra, i % 10);
        ASSERT_GE(qp, 0);
        ASSERT_LE(qp, 63);
        const auto size_at = [&](int q) { return (intra ? 4e6 : 1e6) * std::exp2(-q / 8.0); };
        // As the picture coder does: coarser until the picture fits the buffer.
        while (size_at(qp) > rate.ByteLimit() * 8.0 && qp < 63) ++qp;
        const double bits = size_at(qp);
        if (i >= 100) late += bits;
        rate.Coded(intra, qp, static_cast<size_t>(bits / 8));
        EXPECT_LE(rate.ByteLimit(), 1e6 / 8);
        EXPECT_GE(rate.BufferFullness(), 0);
    }
    EXPECT_NEAR(late / 4.0, 1e6, 0.05e6);
}

TEST(RateControl, BPicturesAreTheirOwnKindCodedCoarser) {
    // Groups of 12 with 2 B pictures between references (I P B B P B B ...): B pictures
    // cost a fifth of a P picture at the same quantiser. The controller must settle on the
    // target, keep the buffer, and code B pictures kBidirectionalQpOffset coarser than the
    // P pictures around them once it has learnt both kinds.
    const int gop = 12, b = 2;
    RateController rate(1e6, 25, gop, 0, 1e6, b);
    double late = 0;
    int b_minus_p = 0, compared = 0;
    int last_p = -1;
    for (int i = 0; i < 240; ++i) {
        const int position = i % gop;
        const PictureKind kind = position == 0 ? PictureKind::kIntra
                                 : position % (b + 1) == 0 || position == gop - 1
                                     ? PictureKind::kPredicted
                                     : PictureKind::kBidirectional;
        int qp = rate.NextQp(kind, position);
        const double scale = kind == PictureKind::kIntra       ? 4e6
                             : kind == PictureKind::kPredicted ? 1e6
                                                               : 0.2e6;
        const auto size_at = [&](int q) { return scale * std::exp2(-q / 8.0); };
        while (size_at(qp) > rate.ByteLimit() * 8.0 && qp < 63) ++qp;
        const double bits = size_at(qp);
        if (i >= 120) late += bits;
        if (kind == PictureKind::kPredicted) last_p = qp;
        if (kind == PictureKind::kBidirectional && i >= 120 && last_p >= 0) {
            b_minus_p += qp - last_p;
            ++compared;
        }
        rate.Coded(kind, qp, static_cast<size_t>(bits / 8));
        EXPECT_GE(rate.BufferFullness(), 0);
    }
    EXPECT_NEAR(late / (120 / 25.0), 1e6, 0.05e6);
    ASSERT_GT(compared, 0);
    EXPECT_NEAR(static_cast<double>(b_minus_p) / compared, kBidirectionalQpOffset, 1.0);
}
