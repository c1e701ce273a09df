// The encoder predicts from its own reconstruction, so it must equal FFmpeg's decoded
// pictures sample for sample, or errors would pile up from block to block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "process_for_tests.h"
#include "tools/harrowgate/picture_coder.h"
#include "tools/harrowgate/sequence_header.h"

using namespace harrowgate;
using harrowgate_test::RunCommand;
using harrowgate_test::TempDir;

namespace {

// Smooth gradients, a moving sharp-edged square, and noise: every prediction mode and
// coefficient range gets used.
Frame SyntheticFrame(int width, int height, int index, std::mt19937& random) {
    Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int v = (x * 3 + y * 2 + index * 5) % 256;
            if (std::abs(x - (index * 7) % width) < 12 && std::abs(y - height / 2) < 10) v = 240;
            v += static_cast<int>(random() % 9) - 4;
            f.luma.Row(y)[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            f.cb.Row(y)[x] = static_cast<uint8_t>(128 + 100 * std::sin((x + index) * 0.2));
            f.cr.Row(y)[x] = static_cast<uint8_t>((x * y + index * 3) % 256);
        }
    return f;
}

// A textured background panning right and down, and a block moving the other way: motion
// vectors that differ between neighbours, vectors reaching past the picture's edge, and
// skipped macroblocks that move.
Frame PanningFrame(int width, int height, int index) {
    const auto texture = [](int x, int y) {
        return static_cast<int>(128 + 60 * std::sin(x * 0.31) * std::cos(y * 0.23) +
                                40 * std::sin((x + 2 * y) * 0.07));
    };
    Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int v = texture(x - 4 * index, y - 2 * index);
            if (x + 6 * index > width / 2 && x + 6 * index < width / 2 + 24 && y > 8 && y < 40)
                v = texture(x + 6 * index + 300, y) / 2 + 100;
            f.luma.Row(y)[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            const int t = texture(2 * x - 4 * index, 2 * y - 2 * index);
            f.cb.Row(y)[x] = static_cast<uint8_t>(t / 2 + 64);
            f.cr.Row(y)[x] = static_cast<uint8_t>(200 - t / 2);
        }
    return f;
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void Append(std::string& out, const Frame& f) {
    for (const Plane* p : {&f.luma, &f.cb, &f.cr})
        out.append(reinterpret_cast<const char*>(p->samples.data()), p->samples.size());
}

void CheckMatchesDecoder(int width, int height, int qp, bool panning = false,
                         bool loop_filter = false, int alpha_offset = 0, int beta_offset = 0,
                         bool sub_sample = false, bool rdo = false, bool progressive = true) {
    TempDir dir;
    std::mt19937 random(static_cast<unsigned>(width * 7 + qp));
    PictureCoder coder(width, height, qp);
    coder.SetLoopFilter(loop_filter);
    coder.SetLoopFilterOffsets(alpha_offset, beta_offset);
    coder.SetSubSampleMotion(sub_sample);
    coder.SetRateDistortionChoice(rdo);
    coder.SetProgressive(progressive);
    SequenceParameters sequence{width, height, 3, 1000};
    sequence.progressive = progressive;
    std::vector<uint8_t> stream = SequenceHeaderUnit(sequence);
    std::string expected;
    const int pictures = 8;
    for (int i = 0; i < pictures; ++i) {
        // The third picture repeats the second, so predicted pictures also skip.
        const Frame frame = panning ? PanningFrame(width, height, i)
                                    : SyntheticFrame(width, height, i == 2 ? 1 : i, random);
        const PictureType type = i % 4 == 0 ? PictureType::kIntra : PictureType::kPredicted;
        if (type == PictureType::kIntra && i > 0) Append(stream, SequenceHeaderUnit(sequence));
        Append(stream, coder.Encode(frame, type, i));
        Append(expected, coder.Reconstruction());
    }
    Append(stream, SequenceEndUnit());
    {
        std::FILE* f = std::fopen(dir.File("s.avs").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(stream.data(), 1, stream.size(), f);
        std::fclose(f);
    }
    const auto result =
        RunCommand("ffmpeg -nostdin -v error -f cavsvideo -i '" + dir.File("s.avs") +
                       "' -f rawvideo -pix_fmt yuv420p '" + dir.File("d.yuv") + "'",
                   dir);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string decoded = harrowgate_test::ReadFile(dir.File("d.yuv"));
    ASSERT_EQ(decoded.size(), expected.size()) << "picture count differs";
    const size_t picture_size = expected.size() / pictures;
    for (int i = 0; i < pictures; ++i) {
        // Where the first difference lies tells which step of the decoding went wrong.
        size_t first = 0;
        while (first < picture_size &&
               decoded[i * picture_size + first] == expected[i * picture_size + first])
            ++first;
        std::string where;
        if (first < picture_size) {
            const size_t luma = static_cast<size_t>(width) * height;
            const size_t at = first < luma ? first : (first - luma) % (luma / 4);
            const int row_width = first < luma ? width : width / 2;
            where = std::string(first < luma           ? " luma"
                                : first < luma * 5 / 4 ? " cb"
                                                       : " cr") +
                    " x " + std::to_string(at % row_width) + " y " +
                    std::to_string(at / row_width) + " decoder " +
                    std::to_string(static_cast<uint8_t>(decoded[i * picture_size + first])) +
                    " encoder " +
                    std::to_string(static_cast<uint8_t>(expected[i * picture_size + first]));
        }
        EXPECT_EQ(first, picture_size)
            << "picture " << i << " differs from the encoder's reconstruction at " << width << "x"
            << height << " qp " << qp << (loop_filter ? " with the loop filter" : "") << where;
    }
}

}  // namespace

TEST(Reconstruction, MatchesDecoderAtSeveralSizesAndQuantisers) {
    CheckMatchesDecoder(176, 144, 24);
    CheckMatchesDecoder(48, 32, 0);
    CheckMatchesDecoder(64, 16, 50);
    CheckMatchesDecoder(16, 48, 10);
}

TEST(Reconstruction, MatchesDecoderWithMotion) {
    CheckMatchesDecoder(176, 144, 24, true);
    CheckMatchesDecoder(96, 64, 36, true);
}

TEST(Reconstruction, MatchesDecoderWithTheLoopFilter) {
    // Quantisers from fine to coarse walk the filter's thresholds from doing nothing to
    // smoothing hard; both kinds of picture, still and moving.
    for (int qp : {16, 28, 36, 44, 56, 63}) {
        CheckMatchesDecoder(176, 144, qp, false, true);
        CheckMatchesDecoder(96, 64, qp, true, true);
    }
    // Offsets in the picture header move the thresholds.
    for (int qp : {36, 48}) {
        CheckMatchesDecoder(96, 64, qp, true, true, 6, -6);
        CheckMatchesDecoder(96, 64, qp, true, true, -6, 6);
    }
}

TEST(Reconstruction, MatchesDecoderWithHalfSampleMotion) {
    for (int qp : {20, 36}) {
        CheckMatchesDecoder(176, 144, qp, true, false, 0, 0, true);
        CheckMatchesDecoder(96, 64, qp, true, true, 0, 0, true);
        // Choosing by cost tries codings one after another: only the chosen one must remain.
        CheckMatchesDecoder(176, 144, qp, true, true, 0, 0, true, true);
        CheckMatchesDecoder(176, 144, qp, false, true, 0, 0, true, true);
    }
}

TEST(Reconstruction, MatchesDecoderForInterlacedFrames) {
    // Heights of whole 32 lines, as the encoder codes interlaced frames.
    CheckMatchesDecoder(176, 160, 24, false, true, 0, 0, true, false, false);
    CheckMatchesDecoder(96, 64, 36, true, true, 0, 0, true, true, false);
}

namespace {

Frame FastPanningFrame(int width, int height, int index, int speed) {
    Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.luma.Row(y)[x] = static_cast<uint8_t>(
                128 + 60 * std::sin((x + speed * index) * 0.21) * std::cos((y - index) * 0.17) +
                30 * std::sin((x * 3 + y + speed * index * 3) * 0.05));
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            f.cb.Row(y)[x] =
                static_cast<uint8_t>(128 + 50 * std::sin((2 * x + speed * index) * 0.1));
            f.cr.Row(y)[x] = static_cast<uint8_t>(128 + 40 * std::cos((2 * y + 2 * x) * 0.08));
        }
    return f;
}

// Nearly white, with darker patches that never repeat, drifting down `speed` samples a
// picture: bright enough to overflow a 16-bit sum of the vertical quarter-sample filter, and
// unambiguous for the motion search.
Frame BrightDriftingFrame(int width, int height, int index, double speed) {
    const auto lattice = [](int i, int j) {
        const unsigned h =
            (static_cast<unsigned>(i) * 73856093u) ^ (static_cast<unsigned>(j) * 19349663u);
        return static_cast<double>((h * 2654435761u) >> 24) / 256.0;
    };
    Frame f;
    f.Resize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            // Value noise on a 4-sample lattice, bilinear between its points.
            const double u = x / 4.0, w = (y - index * speed) / 4.0 + 1000;
            const int i = static_cast<int>(std::floor(u)), j = static_cast<int>(std::floor(w));
            const double fu = u - i, fw = w - j;
            const double n = (lattice(i, j) * (1 - fu) + lattice(i + 1, j) * fu) * (1 - fw) +
                             (lattice(i, j + 1) * (1 - fu) + lattice(i + 1, j + 1) * fu) * fw;
            f.luma.Row(y)[x] =
                static_cast<uint8_t>(std::clamp(static_cast<int>(215 + 60 * n), 0, 255));
        }
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            f.cb.Row(y)[x] = static_cast<uint8_t>(128 + 10 * std::sin(x * 0.2));
            f.cr.Row(y)[x] = 128;
        }
    return f;
}

struct Planned {
    int display;
    PictureType type;
};

// Coding order of `count` pictures with `b_pictures` B pictures between references and an
// intra picture every `gop`: each reference comes before the B pictures shown ahead of it,
// and the last picture of a group and of the whole are references.
std::vector<Planned> CodingOrder(int count, int gop, int b_pictures) {
    std::vector<Planned> order;
    std::vector<int> waiting;
    for (int d = 0; d < count; ++d) {
        const int position = d % gop;
        if (position == 0) {
            order.push_back({d, PictureType::kIntra});
        } else if (position % (b_pictures + 1) == 0 || position == gop - 1 || d == count - 1) {
            order.push_back({d, PictureType::kPredicted});
            for (int w : waiting) order.push_back({w, PictureType::kBidirectional});
            waiting.clear();
        } else {
            waiting.push_back(d);
        }
    }
    return order;
}

// Codes pictures with B pictures in coding order and checks FFmpeg's decode, which comes out
// in display order, against the encoder's reconstruction of each.
using FrameSource = std::function<Frame(int display)>;

void CheckBPicturesMatchDecoder(const FrameSource& source, int width, int height, int qp,
                                int b_pictures, bool loop_filter, int count, int gop,
                                int search_range, bool progressive, bool rdo = false) {
    TempDir dir;
    PictureCoder coder(width, height, qp, search_range);
    coder.SetRateDistortionChoice(rdo);
    coder.SetLoopFilter(loop_filter);
    coder.SetProgressive(progressive);
    coder.SetSubSampleMotion(true);
    SequenceParameters sequence{width, height, 3, 1000};
    std::vector<uint8_t> stream;
    std::vector<std::string> expected(static_cast<size_t>(count));
    int b_coded = 0;
    for (const Planned& p : CodingOrder(count, gop, b_pictures)) {
        if (p.type == PictureType::kIntra) Append(stream, SequenceHeaderUnit(sequence));
        const std::vector<uint8_t> unit = coder.Encode(source(p.display), p.type, p.display);
        ASSERT_GE(unit.size(), 4u);
        EXPECT_EQ(unit[3], p.type == PictureType::kIntra ? 0xB3 : 0xB6);
        Append(stream, unit);
        Append(expected[static_cast<size_t>(p.display)], coder.Reconstruction());
        if (p.type == PictureType::kBidirectional) ++b_coded;
    }
    EXPECT_GT(b_coded, 0);
    Append(stream, SequenceEndUnit());
    {
        std::FILE* f = std::fopen(dir.File("b.avs").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(stream.data(), 1, stream.size(), f);
        std::fclose(f);
    }
    const auto result = RunCommand(
        "ffmpeg -nostdin -v error -f cavsvideo -i '" + dir.File("b.avs") +
            "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + dir.File("d.yuv") + "'",
        dir);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string decoded = harrowgate_test::ReadFile(dir.File("d.yuv"));
    const size_t picture_size = expected[0].size();
    ASSERT_EQ(decoded.size(), picture_size * count) << "picture count differs";
    for (int i = 0; i < count; ++i) {
        size_t first = 0;
        while (first < picture_size && decoded[i * picture_size + first] == expected[i][first])
            ++first;
        EXPECT_EQ(first, picture_size)
            << "picture " << i << " (display order) differs from the encoder's reconstruction at "
            << width << "x" << height << " qp " << qp << " with " << b_pictures << " B pictures"
            << (loop_filter ? " and the loop filter" : "") << ", first at byte " << first;
    }
}

// Picture 4 repeats picture 3: direct and skipped macroblocks with still vectors. With
// `fast`, the texture pans that many samples a picture: vectors long enough for the
// decoder's distance rescaling to change them.
void CheckBPicturesMatchDecoder(int width, int height, int qp, int b_pictures, bool loop_filter,
                                int count = 11, int gop = 9, int fast = 0, int search_range = 32,
                                bool progressive = true, bool rdo = false) {
    const FrameSource source = [=](int display) {
        return fast > 0 ? FastPanningFrame(width, height, display, fast)
                        : PanningFrame(width, height, display == 4 ? 3 : display);
    };
    CheckBPicturesMatchDecoder(source, width, height, qp, b_pictures, loop_filter, count, gop,
                               fast > 0 ? 64 : search_range, progressive, rdo);
}

}  // namespace

TEST(Reconstruction, MatchesDecoderWithBPictures) {
    // One to three B pictures: distances whose vector scaling rounds (3 and 4 pictures between
    // references), quarter-sample vectors from direct and symmetric prediction, shortened
    // groups before an intra picture and at the end.
    for (int b : {1, 2, 3}) {
        CheckBPicturesMatchDecoder(176, 144, 24, b, false);
        CheckBPicturesMatchDecoder(96, 64, 36, b, true);
    }
    CheckBPicturesMatchDecoder(176, 144, 44, 2, true, 14, 7);
    // Panning 13 samples a picture: P vectors of about 39 samples over 3 pictures, which
    // the decoder's rescaling (by 85 / 512 * 6) shortens by a quarter sample.
    CheckBPicturesMatchDecoder(208, 96, 28, 2, true, 10, 10, 13);
    CheckBPicturesMatchDecoder(208, 96, 28, 3, false, 10, 10, 13);
    // A wide search on a small picture: long vectors whose rescaled prediction is an odd
    // quarter sample, which skipped macroblocks of P pictures then use.
    CheckBPicturesMatchDecoder(96, 64, 36, 2, true, 11, 9, 0, 96);
    // picture_distance wraps at 256 within the stream.
    CheckBPicturesMatchDecoder(48, 32, 30, 2, true, 262, 261);
    // Interlaced frames with B pictures, whose header has the interlaced fields too.
    CheckBPicturesMatchDecoder(176, 160, 24, 2, true, 11, 9, 0, 32, false);
    // Chosen by cost: every coding of a B macroblock is tried, and only the kept one remains.
    for (int qp : {24, 44}) {
        CheckBPicturesMatchDecoder(176, 144, qp, 2, true, 11, 9, 0, 32, true, true);
        CheckBPicturesMatchDecoder(208, 96, qp, 2, false, 10, 10, 13, 32, true, true);
    }
}

TEST(Reconstruction, MatchesDecoderOverNearlyWhitePictures) {
    // FFmpeg's x86 decoder sums the vertical quarter-sample filter in 16 bits and gets black
    // where such a sum passes 32767; the encoder must not pick vectors that need it there.
    // 5/6 of a sample a picture: P vectors of 2.5 samples over 3 pictures, whose direct
    // share in a B picture is an odd quarter sample.
    for (int b : {2, 3})
        for (bool loop_filter : {false, true})
            CheckBPicturesMatchDecoder(
                [](int display) { return BrightDriftingFrame(176, 144, display, 5.0 / 6); }, 176,
                144, 30, b, loop_filter, 11, 9, 32, true);
    // 13 samples a picture: P vectors of 39 samples over 3 pictures, which the rescaling of
    // predicted vectors shortens to an odd quarter sample for skipped macroblocks.
    for (bool rdo : {false, true})
        CheckBPicturesMatchDecoder(
            [](int display) { return BrightDriftingFrame(176, 144, display, 13); }, 176, 144, 30, 2,
            true, 11, 9, 64, true, rdo);
}
