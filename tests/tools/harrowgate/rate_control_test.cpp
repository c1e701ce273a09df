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
