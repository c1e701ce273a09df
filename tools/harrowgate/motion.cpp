#include "tools/harrowgate/motion.h"

#include <algorithm>
#include <cstdlib>

namespace harrowgate {

int PictureGap(int later_picture_distance, int earlier_picture_distance) {
    return (2 * later_picture_distance - 2 * earlier_picture_distance) & 511;
}

int ScaleNeighbourComponent(int v, int distance) {
    const long long den = distance != 0 ? 512 / distance : 0;
    return static_cast<int>((v * distance * den + 256 + (v < 0 ? -1 : 0)) >> 9);
}

void DirectVectors(const MotionInfo& co, int co_distance, int forward, int backward,
                   MotionInfo* forward_vector, MotionInfo* backward_vector) {
    const long long den = co_distance != 0 ? 16384 / co_distance : 0;
    // Rounds the magnitude, keeping the sign: the backward vector points the other way.
    const auto scale = [&](int v, int distance) {
        const long long magnitude =
            (den * (1 + std::abs(v) * static_cast<long long>(distance)) - 1) >> 14;
        return static_cast<int>(v < 0 ? -magnitude : magnitude);
    };
    *forward_vector = MotionInfo{scale(co.x, forward), scale(co.y, forward), 0};
    *backward_vector = MotionInfo{-scale(co.x, backward), -scale(co.y, backward), 0};
}

MotionInfo SymmetricBackward(const MotionInfo& forward_vector, int forward, int backward) {
    const int factor = backward * (forward != 0 ? 512 / forward : 0);
    return MotionInfo{-((forward_vector.x * factor + 256) >> 9),
                      -((forward_vector.y * factor + 256) >> 9), 0};
}

MotionInfo PredictMotion(const MotionInfo& a, const MotionInfo& b, const MotionInfo& c_in,
                         const MotionInfo& d, bool skipped, int distance) {
    MotionInfo p;
    p.ref = 0;
    const MotionInfo& c = c_in.ref == kNoNeighbour ? d : c_in;
    const auto still = [](const MotionInfo& m) { return m.x == 0 && m.y == 0 && m.ref == 0; };
    if (skipped && (a.ref == kNoNeighbour || b.ref == kNoNeighbour || still(a) || still(b)))
        return p;
    // Exactly one neighbour with motion: take it.
    const bool ha = a.ref >= 0, hb = b.ref >= 0, hc = c.ref >= 0;
    const MotionInfo* only = nullptr;
    if (ha && !hb && !hc) only = &a;
    if (!ha && hb && !hc) only = &b;
    if (!ha && !hb && hc) only = &c;
    if (only != nullptr) {
        p.x = only->x;
        p.y = only->y;
        return p;
    }
    // Otherwise the candidate opposite the median of the three pairwise distances, each
    // rescaled to the distance; intra and missing neighbours count as zero vectors.
    const auto scaled = [&](bool has, int v) {
        return has ? ScaleNeighbourComponent(v, distance) : 0;
    };
    const int ax = scaled(ha, a.x), ay = scaled(ha, a.y);
    const int bx = scaled(hb, b.x), by = scaled(hb, b.y);
    const int cx = scaled(hc, c.x), cy = scaled(hc, c.y);
    const int ab = std::abs(ax - bx) + std::abs(ay - by);
    const int bc = std::abs(bx - cx) + std::abs(by - cy);
    const int ca = std::abs(cx - ax) + std::abs(cy - ay);
    const int middle = std::max(std::min(ab, bc), std::min(std::max(ab, bc), ca));
    if (middle == ab) {
        p.x = cx;
        p.y = cy;
    } else if (middle == bc) {
        p.x = ax;
        p.y = ay;
    } else {
        p.x = bx;
        p.y = by;
    }
    return p;
}

}  // namespace harrowgate
