#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "tools/harrowgate/deblock.h"
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

TEST(Threads, ThreadCountMayChangeBetweenPicturesAndRowFilteringEqualsThePicturesFilter) {
    // The workers are kept between pictures and made again when the count changes.
    const int width = 192, height = 128;
    PictureCoder one(width, height, 28);
    PictureCoder varied(width, height, 28);
    one.SetLoopFilter(true);
    varied.SetLoopFilter(true);
    const int counts[] = {2, 3, 1, 8, 2};
    for (int picture = 0; picture < 5; ++picture) {
        const Frame source = Picture(width, height, picture);
        const PictureType type = picture == 0 ? PictureType::kIntra : PictureType::kPredicted;
        varied.SetThreads(counts[picture]);
        EXPECT_EQ(varied.Encode(source, type, picture), one.Encode(source, type, picture))
            << counts[picture] << " threads, picture " << picture;
    }
    // The coder filters a row at a time; filtering rows in order in pieces of any size must
    // give the whole picture's filter, with intra, still and moved macroblocks side by side.
    Frame picture = Picture(width, height, 1);
    std::vector<MotionInfo> motion(static_cast<size_t>(width / 16) * (height / 16));
    unsigned seed = 5;
    for (MotionInfo& m : motion) {
        seed = seed * 1103515245u + 12345u;
        const unsigned pick = (seed >> 16) % 4;
        m = pick == 0
                ? MotionInfo{0, 0, kIntraRef}
                : MotionInfo{static_cast<int>(pick) * 6 - 9, static_cast<int>(pick % 2) * 8, 0};
    }
    Frame whole = picture;
    DeblockPicture(whole, motion, 30, 2, -1);
    Frame pieces = picture;
    const int rows = height / 16;
    for (int first = 0; first < rows;) {
        const int end = std::min(rows, first + 1 + first % 3);
        DeblockRows(pieces, motion, 30, 2, -1, first, end);
        first = end;
    }
    EXPECT_NE(whole.luma.samples, picture.luma.samples);  // the filter did something
    EXPECT_EQ(pieces.luma.samples, whole.luma.samples);
    EXPECT_EQ(pieces.cb.samples, whole.cb.samples);
    EXPECT_EQ(pieces.cr.samples, whole.cr.samples);
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

TEST(Threads, BPicturesCodedSideBySideEqualThemCodedInTurn) {
    // Groups of two and of three B pictures (three on two threads: a batch of two, then one),
    // with the loop filter and half-sample vectors, and a predicted picture after each group
    // that must find the references as coding in turn leaves them.
    const int width = 160, height = 96;
    for (int b_pictures : {2, 3}) {
        PictureCoder one(width, height, 30);
        PictureCoder side(width, height, 30);
        for (PictureCoder* c : {&one, &side}) {
            c->SetLoopFilter(true);
            c->SetSubSampleMotion(true);
        }
        side.SetThreads(2);
        const int step = b_pictures + 1;
        EXPECT_EQ(side.Encode(Picture(width, height, 0), PictureType::kIntra, 0),
                  one.Encode(Picture(width, height, 0), PictureType::kIntra, 0));
        for (int reference = step; reference <= 3 * step; reference += step) {
            const Frame source = Picture(width, height, reference);
            EXPECT_EQ(side.Encode(source, PictureType::kPredicted, reference),
                      one.Encode(source, PictureType::kPredicted, reference))
                << "picture " << reference;
            std::vector<Frame> frames;
            std::vector<int> distances;
            for (int d = reference - b_pictures; d < reference; ++d) {
                frames.push_back(Picture(width, height, d));
                distances.push_back(d);
            }
            std::vector<const Frame*> sources;
            for (const Frame& f : frames) sources.push_back(&f);
            const std::vector<std::vector<uint8_t>> units =
                side.EncodeBidirectionalGroup(sources, distances);
            ASSERT_EQ(units.size(), frames.size());
            for (size_t i = 0; i < frames.size(); ++i) {
                const std::vector<uint8_t> expected =
                    one.Encode(frames[i], PictureType::kBidirectional, distances[i]);
                EXPECT_FALSE(expected.empty());
                EXPECT_EQ(units[i], expected) << "B picture " << distances[i];
            }
            EXPECT_EQ(side.Reconstruction().luma.samples, one.Reconstruction().luma.samples);
            EXPECT_EQ(side.SkippedMacroblocks(), one.SkippedMacroblocks());
        }
    }
}

TEST(Threads, TheNextReferenceCodedBesideItsBPicturesEqualsCodingInTurn) {
    // The stream's order is I0 P3 B1 B2 P6 B4 B5 I9 B7 B8 (with two B pictures): each group
    // of B pictures is coded beside the reference after it (one beside an intra picture,
    // which must decode into a picture other than the one the group reads) or, at the end,
    // alone. Two and three
    // threads, two and three B pictures, so that helpers are sometimes short and sometimes
    // spare, and the coder must end where coding in turn ends.
    const int width = 160, height = 96;
    for (int threads : {2, 3}) {
        for (int b_pictures : {2, 3}) {
            PictureCoder one(width, height, 30);
            PictureCoder beside(width, height, 30);
            for (PictureCoder* c : {&one, &beside}) {
                c->SetLoopFilter(true);
                c->SetSubSampleMotion(true);
            }
            beside.SetThreads(threads);
            const int step = b_pictures + 1;
            EXPECT_EQ(beside.Encode(Picture(width, height, 0), PictureType::kIntra, 0),
                      one.Encode(Picture(width, height, 0), PictureType::kIntra, 0));
            std::vector<Frame> group_frames;  // the group being coded, alive until finished
            for (int reference = step; reference <= 4 * step; reference += step) {
                const bool last = reference == 4 * step;
                const PictureType type =
                    reference == 3 * step ? PictureType::kIntra : PictureType::kPredicted;
                const Frame source = Picture(width, height, reference);
                std::vector<std::vector<uint8_t>> units;
                std::vector<uint8_t> reference_unit;
                // As the encoder does: the caller codes what the helpers leave of the group
                // once the reference's rows are handed out, before it joins them.
                int work_runs = 0;
                if (!group_frames.empty())
                    beside.SetWorkBeforeRows([&] {
                        ++work_runs;
                        while (beside.CodeOneOfGroup()) {
                        }
                    });
                if (!last) reference_unit = beside.Encode(source, type, reference);
                EXPECT_EQ(work_runs, !last && !group_frames.empty() ? 1 : 0)
                    << threads << " threads, reference " << reference;
                if (!group_frames.empty()) units = beside.FinishBidirectionalGroup();
                // In turn: the group's B pictures, then the reference after them.
                ASSERT_EQ(units.size(), group_frames.size());
                for (size_t i = 0; i < group_frames.size(); ++i) {
                    const int distance = reference - step - b_pictures + static_cast<int>(i);
                    EXPECT_EQ(units[i],
                              one.Encode(group_frames[i], PictureType::kBidirectional, distance))
                        << threads << " threads, B picture " << distance;
                }
                if (last) {
                    EXPECT_EQ(beside.Reconstruction().luma.samples,
                              one.Reconstruction().luma.samples);
                    break;
                }
                EXPECT_EQ(reference_unit, one.Encode(source, type, reference))
                    << threads << " threads, reference " << reference;
                EXPECT_EQ(beside.Reconstruction().luma.samples, one.Reconstruction().luma.samples);
                group_frames.clear();
                std::vector<const Frame*> sources;
                std::vector<int> distances;
                for (int d = reference - b_pictures; d < reference; ++d) {
                    group_frames.push_back(Picture(width, height, d));
                    distances.push_back(d);
                }
                for (const Frame& f : group_frames) sources.push_back(&f);
                beside.StartBidirectionalGroup(sources, distances);
            }
        }
    }
}

TEST(Threads, AFailureBeforeTheRowsOfAPictureCodedBesideItsBPicturesIsThrownAfterThem) {
    // The caller's work before it joins the rows fails (a source that cannot be decoded):
    // the rows are still coded, the helpers stopped, and the failure reaches the caller.
    const int width = 160, height = 96;
    PictureCoder coder(width, height, 30);
    coder.SetThreads(2);
    coder.Encode(Picture(width, height, 0), PictureType::kIntra, 0);
    coder.Encode(Picture(width, height, 3), PictureType::kPredicted, 3);
    const Frame b1 = Picture(width, height, 1), b2 = Picture(width, height, 2);
    coder.StartBidirectionalGroup({&b1, &b2}, {1, 2});
    coder.SetWorkBeforeRows([] { throw std::runtime_error("cannot decode"); });
    try {
        coder.Encode(Picture(width, height, 6), PictureType::kPredicted, 6);
        ADD_FAILURE() << "no failure thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cannot decode");
    }
    // The group is still whole: both B pictures come out.
    EXPECT_EQ(coder.FinishBidirectionalGroup().size(), 2u);
}
