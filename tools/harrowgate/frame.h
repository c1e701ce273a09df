#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace harrowgate {

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> samples;  // rows of `width` bytes, no padding

    void Resize(int w, int h) {
        width = w;
        height = h;
        samples.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    }
    uint8_t* Row(int y) { return samples.data() + static_cast<size_t>(y) * width; }
    const uint8_t* Row(int y) const { return samples.data() + static_cast<size_t>(y) * width; }
    uint8_t At(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

// One 4:2:0 picture whose size is a whole number of 16x16 macroblocks.
struct Frame {
    Plane luma, cb, cr;

    void Resize(int w, int h) {
        luma.Resize(w, h);
        cb.Resize(w / 2, h / 2);
        cr.Resize(w / 2, h / 2);
    }
    int Width() const { return luma.width; }
    int Height() const { return luma.height; }
};

}  // namespace harrowgate
