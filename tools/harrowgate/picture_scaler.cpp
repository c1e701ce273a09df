#include "tools/harrowgate/picture_scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace harrowgate {
namespace {

double Cubic(double x) {
    constexpr double kA = -0.6;
    x = std::fabs(x);
    if (x < 1) return ((kA + 2) * x - (kA + 3)) * x * x + 1;
    if (x < 2) return ((kA * x - 5 * kA) * x + 8 * kA) * x - 4 * kA;
    return 0;
}

// Taps of one output position: first source index and weights in 1/16384.
struct Taps {
    int first = 0;
    std::vector<int> weights;
};

std::vector<Taps> MakeTaps(int src, int dst) {
    std::vector<Taps> taps(static_cast<size_t>(dst));
    const double scale = static_cast<double>(src) / dst;
    const double widen = std::max(1.0, scale);  // shrinking widens the kernel
    const double support = 2 * widen;
    for (int i = 0; i < dst; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const int first = static_cast<int>(std::floor(centre - support)) + 1;
        const int last = static_cast<int>(std::floor(centre + support));
        std::vector<double> w;
        double sum = 0;
        for (int s = first; s <= last; ++s) {
            const double v = Cubic((s - centre) / widen);
            w.push_back(v);
            sum += v;
        }
        Taps& t = taps[static_cast<size_t>(i)];
        t.first = first;
        int total = 0;
        for (double v : w) {
            t.weights.push_back(static_cast<int>(std::lround(v / sum * 16384)));
            total += t.weights.back();
        }
        // Rounding must not change the overall gain.
        t.weights[t.weights.size() / 2] += 16384 - total;
    }
    return taps;
}

uint8_t Clip(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

}  // namespace

void ScalePlane(const uint8_t* src, int sw, int sh, int stride, Plane& dst) {
    if (sw == dst.width && sh == dst.height) {
        for (int y = 0; y < sh; ++y)
            std::memcpy(dst.Row(y), src + static_cast<size_t>(y) * stride, sw);
        return;
    }
    const std::vector<Taps> across = MakeTaps(sw, dst.width);
    const std::vector<Taps> down = MakeTaps(sh, dst.height);
    // Horizontal pass into 32-bit rows, then vertical.
    std::vector<int> mid(static_cast<size_t>(dst.width) * sh);
    for (int y = 0; y < sh; ++y) {
        const uint8_t* row = src + static_cast<size_t>(y) * stride;
        for (int x = 0; x < dst.width; ++x) {
            const Taps& t = across[static_cast<size_t>(x)];
            int acc = 0;
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const int s = std::clamp(t.first + static_cast<int>(k), 0, sw - 1);
                acc += t.weights[k] * row[s];
            }
            mid[static_cast<size_t>(y) * dst.width + x] = acc;
        }
    }
    for (int y = 0; y < dst.height; ++y) {
        const Taps& t = down[static_cast<size_t>(y)];
        uint8_t* out = dst.Row(y);
        for (int x = 0; x < dst.width; ++x) {
            int64_t acc = 0;
            for (size_t k = 0; k < t.weights.size(); ++k) {
                const int s = std::clamp(t.first + static_cast<int>(k), 0, sh - 1);
                acc += static_cast<int64_t>(t.weights[k]) *
                       mid[static_cast<size_t>(s) * dst.width + x];
            }
            out[x] = Clip(static_cast<int>((acc + (int64_t{1} << 27)) >> 28));
        }
    }
}

size_t PictureBytes(PixelLayout layout, int width, int height, int stride) {
    if (width <= 0 || height <= 0 || stride <= 0) return 0;
    const size_t h = static_cast<size_t>(height);
    const size_t s = static_cast<size_t>(stride);
    switch (layout) {
        case PixelLayout::kI420:
        case PixelLayout::kYV12:
            if (stride < width) return 0;
            return s * h + 2 * (s / 2) * ((h + 1) / 2);
        case PixelLayout::kNV12:
            if (stride < width) return 0;
            return s * h + s * ((h + 1) / 2);
        case PixelLayout::kYUY2:
            if (stride < 2 * width) return 0;
            return s * h;
        case PixelLayout::kRGB24:
            if (stride < 3 * width) return 0;
            return s * h;
        case PixelLayout::kRGB32:
            if (stride < 4 * width) return 0;
            return s * h;
    }
    return 0;
}

bool ConvertPicture(const SourcePicture& p, Frame& frame) {
    const size_t need = PictureBytes(p.layout, p.width, p.height, p.stride);
    if (need == 0 || p.size < need || p.data == nullptr) return false;
    const int w = p.width;
    const int h = p.height;
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const size_t luma_bytes = static_cast<size_t>(p.stride) * h;
    std::vector<uint8_t> y, u, v;  // planes in I420 form when they must be built
    const uint8_t* py = p.data;
    const uint8_t* pu = nullptr;
    const uint8_t* pv = nullptr;
    int ys = p.stride;
    int cs = p.stride / 2;
    if ((p.layout == PixelLayout::kI420 || p.layout == PixelLayout::kYV12) && cs < cw) return false;
    switch (p.layout) {
        case PixelLayout::kI420:
        case PixelLayout::kYV12: {
            const uint8_t* first = p.data + luma_bytes;
            const uint8_t* second = first + static_cast<size_t>(cs) * ch;
            pu = p.layout == PixelLayout::kI420 ? first : second;
            pv = p.layout == PixelLayout::kI420 ? second : first;
            break;
        }
        case PixelLayout::kNV12: {
            u.resize(static_cast<size_t>(cw) * ch);
            v.resize(u.size());
            const uint8_t* uv = p.data + luma_bytes;
            for (int r = 0; r < ch; ++r) {
                for (int c = 0; c < cw; ++c) {
                    u[static_cast<size_t>(r) * cw + c] =
                        uv[static_cast<size_t>(r) * p.stride + 2 * c];
                    v[static_cast<size_t>(r) * cw + c] =
                        uv[static_cast<size_t>(r) * p.stride + 2 * c + 1];
                }
            }
            pu = u.data();
            pv = v.data();
            cs = cw;
            break;
        }
        case PixelLayout::kYUY2: {
            y.resize(static_cast<size_t>(w) * h);
            u.resize(static_cast<size_t>(cw) * ch);
            v.resize(u.size());
            for (int r = 0; r < h; ++r) {
                const uint8_t* row = p.data + static_cast<size_t>(r) * p.stride;
                for (int c = 0; c < w; ++c) y[static_cast<size_t>(r) * w + c] = row[2 * c];
            }
            // Each chroma row is the mean of two source rows.
            for (int r = 0; r < ch; ++r) {
                const uint8_t* a = p.data + static_cast<size_t>(2 * r) * p.stride;
                const uint8_t* b =
                    p.data + static_cast<size_t>(std::min(2 * r + 1, h - 1)) * p.stride;
                for (int c = 0; c < cw; ++c) {
                    const int cu = std::min(4 * c + 1, 2 * w - 1);
                    const int cv = std::min(4 * c + 3, 2 * w - 1);
                    u[static_cast<size_t>(r) * cw + c] =
                        static_cast<uint8_t>((a[cu] + b[cu] + 1) / 2);
                    v[static_cast<size_t>(r) * cw + c] =
                        static_cast<uint8_t>((a[cv] + b[cv] + 1) / 2);
                }
            }
            py = y.data();
            pu = u.data();
            pv = v.data();
            ys = w;
            cs = cw;
            break;
        }
        case PixelLayout::kRGB24:
        case PixelLayout::kRGB32: {
            // BT.601, limited range; rows are stored bottom-up.
            const int bytes = p.layout == PixelLayout::kRGB24 ? 3 : 4;
            y.resize(static_cast<size_t>(w) * h);
            std::vector<int> cu_sum(static_cast<size_t>(cw) * ch), cv_sum(cu_sum.size()),
                count(cu_sum.size());
            for (int r = 0; r < h; ++r) {
                const uint8_t* row = p.data + static_cast<size_t>(h - 1 - r) * p.stride;
                for (int c = 0; c < w; ++c) {
                    const int blue = row[bytes * c], green = row[bytes * c + 1],
                              red = row[bytes * c + 2];
                    y[static_cast<size_t>(r) * w + c] =
                        Clip(((66 * red + 129 * green + 25 * blue + 128) >> 8) + 16);
                    const size_t at = static_cast<size_t>(r / 2) * cw + c / 2;
                    cu_sum[at] += ((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128;
                    cv_sum[at] += ((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128;
                    ++count[at];
                }
            }
            u.resize(cu_sum.size());
            v.resize(cu_sum.size());
            for (size_t i = 0; i < u.size(); ++i) {
                u[i] = Clip((cu_sum[i] + count[i] / 2) / count[i]);
                v[i] = Clip((cv_sum[i] + count[i] / 2) / count[i]);
            }
            py = y.data();
            pu = u.data();
            pv = v.data();
            ys = w;
            cs = cw;
            break;
        }
    }
    ScalePlane(py, w, h, ys, frame.luma);
    ScalePlane(pu, cw, ch, cs, frame.cb);
    ScalePlane(pv, cw, ch, cs, frame.cr);
    return true;
}

}  // namespace harrowgate
