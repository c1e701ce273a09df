#pragma once
// Source pictures into the encoder's 4:2:0 frames where no media library converts them: the
// uncompressed layouts a decoder hands over (planar and packed YUV, RGB) become three planes,
// scaled with a bicubic filter when the sizes differ.

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/harrowgate/frame.h"

namespace harrowgate {

enum class PixelLayout {
    kI420,   // Y, then U, then V planes; chroma half size each way
    kYV12,   // Y, then V, then U
    kNV12,   // Y, then interleaved U V
    kYUY2,   // packed Y0 U Y1 V, chroma half width, full height
    kRGB24,  // B G R, bottom-up rows padded to 4 bytes
    kRGB32,  // B G R x, bottom-up rows
};

// One decoded picture as it lies in memory. stride is the luma (or packed) row length in
// bytes; planar chroma rows are half of it.
struct SourcePicture {
    PixelLayout layout = PixelLayout::kI420;
    int width = 0;
    int height = 0;
    int stride = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The bytes a picture of this layout and size takes; 0 for sizes that make no sense.
size_t PictureBytes(PixelLayout layout, int width, int height, int stride);

// Fills frame (already sized) from the picture. False when the picture's bytes are fewer
// than its layout needs.
bool ConvertPicture(const SourcePicture& picture, Frame& frame);

// Scales one plane with the bicubic kernel (a = -0.6), widened when shrinking; equal sizes
// copy the samples unchanged.
void ScalePlane(const uint8_t* src, int src_width, int src_height, int src_stride, Plane& dst);

}  // namespace harrowgate
