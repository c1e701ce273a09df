#include "tools/harrowgate/motion.h"

#include <algorithm>
#include <cstdlib>

namespace harrowgate {

MotionInfo PredictMotion(const MotionInfo& a, const MotionInfo& b, const MotionInfo& c_in,
                         const MotionInfo& d, bool skipped) {
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
    // Otherwise the candidate opposite the median of the three pairwise distances; intra and
    // missing neighbours count as zero vectors.
    const int ax = ha ? a.x : 0, ay = ha ? a.y : 0;
    const int bx = hb ? b.x : 0, by = hb ? b.y : 0;
    const int cx = hc ? c.x : 0, cy = hc ? c.y : 0;
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
