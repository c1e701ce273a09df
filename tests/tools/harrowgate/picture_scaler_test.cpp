#include "tools/harrowgate/picture_scaler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace harrowgate {
namespace {

// A 6x4 picture with distinct samples in every plane, laid out as each format keeps it.
struct Reference {
    static constexpr int kW = 6, kH = 4, kCw = 3, kCh = 2;
    uint8_t y[kH][kW], u[kCh][kCw], v[kCh][kCw];
    Reference() {
        for (int r = 0; r < kH; ++r)
            for (int c = 0; c < kW; ++c) y[r][c] = static_cast<uint8_t>(16 + 10 * r + c);
        for (int r = 0; r < kCh; ++r)
            for (int c = 0; c < kCw; ++c) {
                u[r][c] = static_cast<uint8_t>(100 + 10 * r + c);
                v[r][c] = static_cast<uint8_t>(150 + 10 * r + c);
            }
    }
};

void ExpectPlanes(const Frame& f, const Reference& ref) {
    for (int r = 0; r < ref.kH; ++r)
        for (int c = 0; c < ref.kW; ++c) EXPECT_EQ(f.luma.At(c, r), ref.y[r][c]) << r << "," << c;
    for (int r = 0; r < ref.kCh; ++r)
        for (int c = 0; c < ref.kCw; ++c) {
            EXPECT_EQ(f.cb.At(c, r), ref.u[r][c]);
            EXPECT_EQ(f.cr.At(c, r), ref.v[r][c]);
        }
}

// Every YUV layout a decoder may hand over gives the same planes at the same size, with
// padded rows skipped; a picture cut short is refused.
TEST(PictureScaler, YuvLayoutsGiveTheSamePlanes) {
    const Reference ref;
    const int stride = 8;  // rows padded beyond the width
    std::vector<uint8_t> i420, yv12, nv12, yuy2;
    for (int r = 0; r < ref.kH; ++r) {
        for (int c = 0; c < stride; ++c) {
            const uint8_t s = c < ref.kW ? ref.y[r][c] : 0xEE;
            i420.push_back(s);
            nv12.push_back(s);
        }
    }
    yv12 = i420;
    for (int r = 0; r < ref.kCh; ++r)
        for (int c = 0; c < stride / 2; ++c) i420.push_back(c < ref.kCw ? ref.u[r][c] : 0xEE);
    for (int r = 0; r < ref.kCh; ++r)
        for (int c = 0; c < stride / 2; ++c) i420.push_back(c < ref.kCw ? ref.v[r][c] : 0xEE);
    for (int r = 0; r < ref.kCh; ++r)
        for (int c = 0; c < stride / 2; ++c) yv12.push_back(c < ref.kCw ? ref.v[r][c] : 0xEE);
    for (int r = 0; r < ref.kCh; ++r)
        for (int c = 0; c < stride / 2; ++c) yv12.push_back(c < ref.kCw ? ref.u[r][c] : 0xEE);
    for (int r = 0; r < ref.kCh; ++r) {
        for (int c = 0; c < stride / 2; ++c) {
            nv12.push_back(c < ref.kCw ? ref.u[r][c] : 0xEE);
            nv12.push_back(c < ref.kCw ? ref.v[r][c] : 0xEE);
        }
    }
    // Packed 4:2:2: both rows of a chroma pair carry the same chroma, so their mean is it.
    for (int r = 0; r < ref.kH; ++r) {
        for (int c = 0; c < ref.kW / 2; ++c) {
            yuy2.push_back(ref.y[r][2 * c]);
            yuy2.push_back(ref.u[r / 2][c]);
            yuy2.push_back(ref.y[r][2 * c + 1]);
            yuy2.push_back(ref.v[r / 2][c]);
        }
        for (int pad = 2 * ref.kW; pad < 2 * stride; ++pad) yuy2.push_back(0xEE);
    }
    const struct {
        PixelLayout layout;
        std::vector<uint8_t>* bytes;
        int stride;
    } cases[] = {{PixelLayout::kI420, &i420, stride},
                 {PixelLayout::kYV12, &yv12, stride},
                 {PixelLayout::kNV12, &nv12, stride},
                 {PixelLayout::kYUY2, &yuy2, 2 * stride}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.layout));
        Frame frame;
        frame.Resize(ref.kW, ref.kH);
        SourcePicture p{c.layout, ref.kW, ref.kH, c.stride, c.bytes->data(), c.bytes->size()};
        EXPECT_EQ(PictureBytes(c.layout, ref.kW, ref.kH, c.stride), c.bytes->size());
        ASSERT_TRUE(ConvertPicture(p, frame));
        ExpectPlanes(frame, ref);
        p.size -= 1;
        EXPECT_FALSE(ConvertPicture(p, frame));
    }
    Frame frame;
    frame.Resize(ref.kW, ref.kH);
    EXPECT_FALSE(ConvertPicture({PixelLayout::kI420, ref.kW, ref.kH, 4, i420.data(), i420.size()},
                                frame));  // rows shorter than the picture
}

// RGB rows are stored bottom-up; white, black and a saturated red land on BT.601's values.
TEST(PictureScaler, RgbBecomesLimitedRangeYuvTheRightWayUp) {
    const int w = 2, h = 2;
    for (PixelLayout layout : {PixelLayout::kRGB24, PixelLayout::kRGB32}) {
        const int bpp = layout == PixelLayout::kRGB24 ? 3 : 4;
        const int stride = (w * bpp + 3) & ~3;
        std::vector<uint8_t> rgb(static_cast<size_t>(stride) * h, 0);
        // Bottom row in memory first: black; the top row: white then red.
        uint8_t* top = rgb.data() + stride;
        top[0] = top[1] = top[2] = 255;
        top[bpp + 2] = 255;  // B G R order: red
        Frame frame;
        frame.Resize(w, h);
        ASSERT_TRUE(ConvertPicture({layout, w, h, stride, rgb.data(), rgb.size()}, frame));
        EXPECT_EQ(frame.luma.At(0, 0), 235);
        EXPECT_EQ(frame.luma.At(1, 0), 82);  // 16 + 219 * 0.299, rounded up by the integer form
        EXPECT_EQ(frame.luma.At(0, 1), 16);
        EXPECT_EQ(frame.luma.At(1, 1), 16);
        // The chroma sample averages the four: a little red.
        EXPECT_GT(frame.cr.At(0, 0), 128);
        EXPECT_LT(frame.cb.At(0, 0), 128);
    }
}

// Scaling keeps flat areas flat, keeps the mean of a smooth ramp, and copies at equal size.
TEST(PictureScaler, BicubicScalingKeepsLevelsAndCopiesAtEqualSize) {
    std::vector<uint8_t> flat(175 * 97, 77);
    Plane out;
    out.Resize(176, 112);
    ScalePlane(flat.data(), 175, 97, 175, out);
    for (uint8_t s : out.samples) ASSERT_EQ(s, 77);

    std::vector<uint8_t> ramp(64 * 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 64; ++c) ramp[r * 64 + c] = static_cast<uint8_t>(40 + 2 * c);
    Plane half;
    half.Resize(32, 8);
    ScalePlane(ramp.data(), 64, 8, 64, half);
    // Output sample c sits between source samples 2c and 2c+1.
    for (int c = 2; c < 30; ++c) EXPECT_NEAR(half.At(c, 3), 40 + 2 * (2 * c + 0.5), 1.0) << c;
    Plane same;
    same.Resize(64, 8);
    ScalePlane(ramp.data(), 64, 8, 64, same);
    EXPECT_EQ(same.samples, ramp);
}

}  // namespace
}  // namespace harrowgate
