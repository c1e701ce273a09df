#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Fills the part of `plane` right of and below a picture of width x height samples in its
// top-left corner with the picture's last column and row: macroblocks past the picture's edge
// then predict and code cheaply, and the decoder crops them away.
inline void ExtendPlaneEdges(Plane& plane, int width, int height) {
    width = std::clamp(width, 1, plane.width);
    height = std::clamp(height, 1, plane.height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = plane.Row(y);
        std::memset(row + width, row[width - 1], static_cast<size_t>(plane.width - width));
    }
    for (int y = height; y < plane.height; ++y)
        std::memcpy(plane.Row(y), plane.Row(height - 1), static_cast<size_t>(plane.width));
}

// The same for a 4:2:0 frame holding a picture of width x height luma samples.
inline void ExtendFrameEdges(Frame& frame, int width, int height) {
    ExtendPlaneEdges(frame.luma, width, height);
    ExtendPlaneEdges(frame.cb, (width + 1) / 2, (height + 1) / 2);
    ExtendPlaneEdges(frame.cr, (width + 1) / 2, (height + 1) / 2);
}

}  // namespace harrowgate
