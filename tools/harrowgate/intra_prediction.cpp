#include "tools/harrowgate/intra_prediction.h"

#include <algorithm>

namespace harrowgate {
namespace {

enum class Mode { kLowPass, kLowPassLeft, kLowPassTop, kFlat128 };

int LowPass(const uint8_t* edge, int index) {
    return (edge[index - 1] + 2 * edge[index] + edge[index + 1] + 2) >> 2;
}

// Low-pass modes read top[0..9] and left[0..9]: the corner, the edge, one sample beyond.
void FillPrediction(Mode mode, const uint8_t top[18], const uint8_t left[18],
                    uint8_t prediction[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int value = 128;
            switch (mode) {
                case Mode::kLowPass:
                    value = (LowPass(top, x + 1) + LowPass(left, y + 1)) >> 1;
                    break;
                case Mode::kLowPassLeft:
                    value = LowPass(left, y + 1);
                    break;
                case Mode::kLowPassTop:
                    value = LowPass(top, x + 1);
                    break;
                case Mode::kFlat128:
                    break;
            }
            prediction[y * 8 + x] = static_cast<uint8_t>(value);
        }
}

Mode ModeFor(bool has_left, bool has_top) {
    if (has_left && has_top) return Mode::kLowPass;
    if (has_left) return Mode::kLowPassLeft;
    if (has_top) return Mode::kLowPassTop;
    return Mode::kFlat128;
}

}  // namespace

namespace {

bool BlockHasLeft(int block, const Neighbours& available) {
    return (block & 1) ? true : available.left;
}
bool BlockHasTop(int block, const Neighbours& available) {
    return (block & 2) ? true : available.top;
}

}  // namespace

bool LumaModeAllowed(int block, const Neighbours& available, LumaMode mode) {
    const bool has_left = BlockHasLeft(block, available);
    const bool has_top = BlockHasTop(block, available);
    switch (mode) {
        case LumaMode::kVertical:
            return has_top;
        case LumaMode::kHorizontal:
            return has_left;
        case LumaMode::kLowPass:
            return true;
        case LumaMode::kDownLeft:
        case LumaMode::kDownRight:
            return has_left && has_top;
    }
    return false;
}

void PredictLumaBlock(const Plane& picture, int mb_x, int mb_y, int block,
                      const Neighbours& available, LumaMode mode, uint8_t prediction[64]) {
    const int x0 = mb_x * 16 + (block & 1) * 8;
    const int y0 = mb_y * 16 + (block >> 1) * 8;
    const bool has_left = BlockHasLeft(block, available);
    const bool has_top = BlockHasTop(block, available);
    // Element 0 is the corner, 1..8 the edge, 9..16 the samples beyond it, 17 repeats 16.
    uint8_t top[18] = {};
    uint8_t left[18] = {};
    if (has_top) {
        for (int i = 0; i < 8; ++i) top[i + 1] = picture.At(x0 + i, y0 - 1);
        // Beyond the edge lies the rest of the row above: for block 1 that is the macroblock
        // above-right, when decoded; block 3 has nothing decoded there.
        const bool beyond = block == 0 || block == 2 || (block == 1 && available.top_right);
        for (int i = 8; i < 16; ++i) top[i + 1] = beyond ? picture.At(x0 + i, y0 - 1) : top[8];
        top[17] = top[16];
    }
    if (has_left) {
        for (int i = 0; i < 8; ++i) left[i + 1] = picture.At(x0 - 1, y0 + i);
        // Below the edge only block 0 sees decoded samples (the left macroblock's lower half).
        for (int i = 8; i < 16; ++i)
            left[i + 1] = block == 0 ? picture.At(x0 - 1, y0 + i) : left[8];
        left[17] = left[16];
    }
    const bool corner = has_left && has_top;
    const uint8_t corner_sample = corner ? picture.At(x0 - 1, y0 - 1) : 0;
    top[0] = corner ? corner_sample : top[1];
    left[0] = corner ? corner_sample : left[1];

    switch (mode) {
        case LumaMode::kLowPass:
            FillPrediction(ModeFor(has_left, has_top), top, left, prediction);
            return;
        case LumaMode::kVertical:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) prediction[y * 8 + x] = top[x + 1];
            return;
        case LumaMode::kHorizontal:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) prediction[y * 8 + x] = left[y + 1];
            return;
        case LumaMode::kDownLeft:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    prediction[y * 8 + x] = static_cast<uint8_t>(
                        (LowPass(top, x + y + 2) + LowPass(left, x + y + 2)) >> 1);
            return;
        case LumaMode::kDownRight:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    int value;
                    if (x == y)
                        value = (left[1] + 2 * top[0] + top[1] + 2) >> 2;
                    else if (x > y)
                        value = LowPass(top, x - y);
                    else
                        value = LowPass(left, y - x);
                    prediction[y * 8 + x] = static_cast<uint8_t>(value);
                }
            return;
    }
}

void PredictChromaBlock(const Plane& picture, int mb_x, int mb_y, const Neighbours& available,
                        ChromaMode mode, uint8_t prediction[64]) {
    const int x0 = mb_x * 8;
    const int y0 = mb_y * 8;
    uint8_t top[10] = {};
    uint8_t left[10] = {};
    if (available.top)
        for (int i = 0; i < 8; ++i) top[i + 1] = picture.At(x0 + i, y0 - 1);
    if (available.left)
        for (int i = 0; i < 8; ++i) left[i + 1] = picture.At(x0 - 1, y0 + i);
    const bool corner = available.left && available.top;
    top[0] = left[0] = corner ? picture.At(x0 - 1, y0 - 1) : 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int value = 128;  // low-pass without neighbours becomes flat 128
            switch (mode) {
                case ChromaMode::kHorizontal:
                    value = left[y + 1];
                    break;
                case ChromaMode::kVertical:
                    value = top[x + 1];
                    break;
                case ChromaMode::kPlane: {
                    int ih = 0;
                    int iv = 0;
                    for (int i = 0; i < 4; ++i) {
                        ih += (i + 1) * (top[5 + i] - top[3 - i]);
                        iv += (i + 1) * (left[5 + i] - left[3 - i]);
                    }
                    const int ia = (top[8] + left[8]) << 4;
                    ih = (17 * ih + 16) >> 5;
                    iv = (17 * iv + 16) >> 5;
                    value = std::clamp((ia + (x - 3) * ih + (y - 3) * iv + 16) >> 5, 0, 255);
                    break;
                }
                case ChromaMode::kLowPass:
                    break;
            }
            prediction[y * 8 + x] = static_cast<uint8_t>(value);
        }
}

int ChromaCandidates(const Neighbours& available, ChromaMode modes[3]) {
    if (available.left && available.top) {
        modes[0] = ChromaMode::kPlane;
        modes[1] = ChromaMode::kVertical;
        modes[2] = ChromaMode::kHorizontal;
        return 3;
    }
    if (available.top) {
        modes[0] = ChromaMode::kVertical;
        return 1;
    }
    if (available.left) {
        modes[0] = ChromaMode::kHorizontal;
        return 1;
    }
    modes[0] = ChromaMode::kLowPass;
    return 1;
}

}  // namespace harrowgate
