#include "intra_prediction.h"

#include <algorithm>

namespace harrowgate {
namespace {

enum class Mode { LowPass, LowPassLeft, LowPassTop, Flat128 };

int low_pass(const uint8_t* edge, int index) {
    return (edge[index - 1] + 2 * edge[index] + edge[index + 1] + 2) >> 2;
}

// Low-pass modes read top[0..9] and left[0..9]: the corner, the edge, one sample beyond.
void fill_prediction(Mode mode, const uint8_t top[18], const uint8_t left[18],
                     uint8_t prediction[64]) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int value = 128;
            switch (mode) {
                case Mode::LowPass:
                    value = (low_pass(top, x + 1) + low_pass(left, y + 1)) >> 1;
                    break;
                case Mode::LowPassLeft:
                    value = low_pass(left, y + 1);
                    break;
                case Mode::LowPassTop:
                    value = low_pass(top, x + 1);
                    break;
                case Mode::Flat128:
                    break;
            }
            prediction[y * 8 + x] = static_cast<uint8_t>(value);
        }
}

Mode mode_for(bool has_left, bool has_top) {
    if (has_left && has_top) return Mode::LowPass;
    if (has_left) return Mode::LowPassLeft;
    if (has_top) return Mode::LowPassTop;
    return Mode::Flat128;
}

}  // namespace

namespace {

bool block_has_left(int block, const Neighbours& available) {
    return (block & 1) ? true : available.left;
}
bool block_has_top(int block, const Neighbours& available) {
    return (block & 2) ? true : available.top;
}

}  // namespace

bool luma_mode_allowed(int block, const Neighbours& available, LumaMode mode) {
    const bool has_left = block_has_left(block, available);
    const bool has_top = block_has_top(block, available);
    switch (mode) {
        case LumaMode::Vertical:
            return has_top;
        case LumaMode::Horizontal:
            return has_left;
        case LumaMode::LowPass:
            return true;
        case LumaMode::DownLeft:
        case LumaMode::DownRight:
            return has_left && has_top;
    }
    return false;
}

void predict_luma_block(const Plane& picture, int mb_x, int mb_y, int block,
                        const Neighbours& available, LumaMode mode, uint8_t prediction[64]) {
    const int x0 = mb_x * 16 + (block & 1) * 8;
    const int y0 = mb_y * 16 + (block >> 1) * 8;
    const bool has_left = block_has_left(block, available);
    const bool has_top = block_has_top(block, available);
    // Element 0 is the corner, 1..8 the edge, 9..16 the samples beyond it, 17 repeats 16.
    uint8_t top[18] = {};
    uint8_t left[18] = {};
    if (has_top) {
        for (int i = 0; i < 8; ++i) top[i + 1] = picture.at(x0 + i, y0 - 1);
        // Beyond the edge lies the rest of the row above: for block 1 that is the macroblock
        // above-right, when decoded; block 3 has nothing decoded there.
        const bool beyond = block == 0 || block == 2 || (block == 1 && available.top_right);
        for (int i = 8; i < 16; ++i) top[i + 1] = beyond ? picture.at(x0 + i, y0 - 1) : top[8];
        top[17] = top[16];
    }
    if (has_left) {
        for (int i = 0; i < 8; ++i) left[i + 1] = picture.at(x0 - 1, y0 + i);
        // Below the edge only block 0 sees decoded samples (the left macroblock's lower half).
        for (int i = 8; i < 16; ++i)
            left[i + 1] = block == 0 ? picture.at(x0 - 1, y0 + i) : left[8];
        left[17] = left[16];
    }
    const bool corner = has_left && has_top;
    const uint8_t corner_sample = corner ? picture.at(x0 - 1, y0 - 1) : 0;
    top[0] = corner ? corner_sample : top[1];
    left[0] = corner ? corner_sample : left[1];

    switch (mode) {
        case LumaMode::LowPass:
            fill_prediction(mode_for(has_left, has_top), top, left, prediction);
            return;
        case LumaMode::Vertical:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) prediction[y * 8 + x] = top[x + 1];
            return;
        case LumaMode::Horizontal:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) prediction[y * 8 + x] = left[y + 1];
            return;
        case LumaMode::DownLeft:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    prediction[y * 8 + x] = static_cast<uint8_t>(
                        (low_pass(top, x + y + 2) + low_pass(left, x + y + 2)) >> 1);
            return;
        case LumaMode::DownRight:
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    int value;
                    if (x == y)
                        value = (left[1] + 2 * top[0] + top[1] + 2) >> 2;
                    else if (x > y)
                        value = low_pass(top, x - y);
                    else
                        value = low_pass(left, y - x);
                    prediction[y * 8 + x] = static_cast<uint8_t>(value);
                }
            return;
    }
}

void predict_chroma_block(const Plane& picture, int mb_x, int mb_y, const Neighbours& available,
                          ChromaMode mode, uint8_t prediction[64]) {
    const int x0 = mb_x * 8;
    const int y0 = mb_y * 8;
    uint8_t top[10] = {};
    uint8_t left[10] = {};
    if (available.top)
        for (int i = 0; i < 8; ++i) top[i + 1] = picture.at(x0 + i, y0 - 1);
    if (available.left)
        for (int i = 0; i < 8; ++i) left[i + 1] = picture.at(x0 - 1, y0 + i);
    const bool corner = available.left && available.top;
    top[0] = left[0] = corner ? picture.at(x0 - 1, y0 - 1) : 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            int value = 128;  // low-pass without neighbours becomes flat 128
            switch (mode) {
                case ChromaMode::Horizontal:
                    value = left[y + 1];
                    break;
                case ChromaMode::Vertical:
                    value = top[x + 1];
                    break;
                case ChromaMode::Plane: {
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
                case ChromaMode::LowPass:
                    break;
            }
            prediction[y * 8 + x] = static_cast<uint8_t>(value);
        }
}

int chroma_candidates(const Neighbours& available, ChromaMode modes[3]) {
    if (available.left && available.top) {
        modes[0] = ChromaMode::Plane;
        modes[1] = ChromaMode::Vertical;
        modes[2] = ChromaMode::Horizontal;
        return 3;
    }
    if (available.top) {
        modes[0] = ChromaMode::Vertical;
        return 1;
    }
    if (available.left) {
        modes[0] = ChromaMode::Horizontal;
        return 1;
    }
    modes[0] = ChromaMode::LowPass;
    return 1;
}

}  // namespace harrowgate
