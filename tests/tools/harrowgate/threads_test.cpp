#include <gtest/gtest.h>

#include <cmath>

#include "tools/harrowgate/picture_coder.h"

using namespace harrowgate;

namespace {

// Texture that moves, with a band of noise that stays: skipped, inter and intra macroblocks
// side by side, so every row waits on the one above for all three kinds.
Frame Picture(int width, int height, int index) {
    Frame f;
    f.Resize(width, height);
    unsigned seed = 99;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            int v = static_cast<int>(128 + 70 * std::sin((x - 5 * index) * 0.2) *
                                               std::cos((y + 3 * index) * 0.15));
            if (y > height / 2 && y < height / 2 + 20) v = static_cast<int>(seed >> 24);
            f.luma.Row(y)[x] = static_cast<uint8_t>(v);
        }
    for (Plane* p : {&f.cb, &f.cr})
        for (int y = 0; y < p->height; ++y)
            for (int x = 0; x < p->width; ++x)
                p->Row(y)[x] = static_cast<uint8_t>(128 + (x + index) % 40 - y % 30);
    return f;
}

}  // namespace

TEST(Threads, AnyNumberOfThreadsCodesTheSameBits) {
    const int width = 160, height = 96;
    for (bool loop_filter : {false, true}) {
        PictureCoder one(width, height, 30);
        one.SetLoopFilter(loop_filter);
        PictureCoder several[2] = {PictureCoder(width, height, 30),
                                   PictureCoder(width, height, 30)};
        const int threads[2] = {2, 16};  // 16: more threads than rows
        for (int i = 0; i < 2; ++i) {
            several[i].SetLoopFilter(loop_filter);
            several[i].SetThreads(threads[i]);
        }
        for (int picture = 0; picture < 6; ++picture) {
            const Frame source = Picture(width, height, picture);
            const PictureType type =
                picture % 3 == 0 ? PictureType::kIntra : PictureType::kPredicted;
            const std::vector<uint8_t> expected = one.Encode(source, type, picture);
            for (int i = 0; i < 2; ++i) {
                EXPECT_EQ(several[i].Encode(source, type, picture), expected)
                    << threads[i] << " threads, picture " << picture;
                EXPECT_EQ(several[i].Reconstruction().luma.samples,
                          one.Reconstruction().luma.samples);
                EXPECT_EQ(several[i].SkippedMacroblocks(), one.SkippedMacroblocks());
            }
        }
    }
}

TEST(Threads, BPicturesCodeTheSameBitsWithAnyNumberOfThreads) {
    // Coding order I0 P3 B1 B2 P6 B4 B5: B rows wait on the rows above for both vector lists.
    const int width = 160, height = 96;
    const int display[7] = {0, 3, 1, 2, 6, 4, 5};
    for (bool loop_filter : {false, true}) {
        PictureCoder one(width, height, 30);
        PictureCoder several(width, height, 30);
        for (PictureCoder* c : {&one, &several}) {
            c->SetLoopFilter(loop_filter);
            c->SetSubSampleMotion(true);
        }
        several.SetThreads(3);
        for (int i = 0; i < 7; ++i) {
            const PictureType type = i == 0                ? PictureType::kIntra
                                     : display[i] % 3 == 0 ? PictureType::kPredicted
                                                           : PictureType::kBidirectional;
            const Frame source = Picture(width, height, display[i]);
            EXPECT_EQ(several.Encode(source, type, display[i]),
                      one.Encode(source, type, display[i]))
                << "picture " << display[i];
            EXPECT_EQ(several.Reconstruction().luma.samples, one.Reconstruction().luma.samples);
        }
    }
}
