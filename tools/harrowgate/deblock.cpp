#include "tools/harrowgate/deblock.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "tools/harrowgate/transform.h"

namespace harrowgate {
namespace {

constexpr uint8_t kAlpha[64] = {0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  2,  2,  2,  3,  3,
                                4,  4,  5,  5,  6,  7,  8,  9,  10, 11, 12, 13, 15, 16, 18, 20,
                                22, 24, 26, 28, 30, 33, 33, 35, 35, 36, 37, 37, 39, 39, 42, 44,
                                46, 48, 50, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64};
constexpr uint8_t kBeta[64] = {0,  0,  0,  0,  0,  0,  1,  1,  1,  1,  1,  1,  1,  2,  2,  2,
                               2,  2,  3,  3,  3,  3,  4,  4,  4,  4,  5,  5,  5,  5,  6,  6,
                               6,  7,  7,  7,  8,  8,  8,  9,  9,  10, 10, 11, 11, 12, 13, 14,
                               15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 27, 27, 27};
constexpr uint8_t kClip[64] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1,
                               1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3,
                               3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7, 7, 8, 8, 8, 9, 9, 9};

struct Thresholds {
    int alpha;
    int beta;
    int clip;
};

Thresholds ThresholdsFor(int qp, int alpha_offset, int beta_offset) {
    const int a = std::clamp(qp + alpha_offset, 0, 63);
    const int b = std::clamp(qp + beta_offset, 0, 63);
    return {kAlpha[a], kBeta[b], kClip[a]};
}

uint8_t ClipSample(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// Filters the samples across one edge at `p0` (the first sample on the far side is p0 +
// step); `strength` is 1 or 2; luma filters up to three samples each side, chroma two.
void FilterLine(uint8_t* q0_at, int step, int strength, const Thresholds& t, bool luma) {
    uint8_t* q = q0_at;
    const int p0 = q[-step], p1 = q[-2 * step], p2 = q[-3 * step];
    const int q0 = q[0], q1 = q[step], q2 = q[2 * step];
    if (std::abs(p0 - q0) >= t.alpha || std::abs(p1 - p0) >= t.beta || std::abs(q1 - q0) >= t.beta)
        return;
    if (strength == 2) {
        const int sum = p0 + q0 + 2;
        const int close = (t.alpha >> 2) + 2;
        if (std::abs(p2 - p0) < t.beta && std::abs(p0 - q0) < close) {
            q[-step] = static_cast<uint8_t>((p1 + p0 + sum) >> 2);
            if (luma) q[-2 * step] = static_cast<uint8_t>((2 * p1 + sum) >> 2);
        } else {
            q[-step] = static_cast<uint8_t>((2 * p1 + sum) >> 2);
        }
        if (std::abs(q2 - q0) < t.beta && std::abs(q0 - p0) < close) {
            q[0] = static_cast<uint8_t>((q1 + q0 + sum) >> 2);
            if (luma) q[step] = static_cast<uint8_t>((2 * q1 + sum) >> 2);
        } else {
            q[0] = static_cast<uint8_t>((2 * q1 + sum) >> 2);
        }
        return;
    }
    int delta = std::clamp(((q0 - p0) * 3 + p1 - q1 + 4) >> 3, -t.clip, t.clip);
    const int new_p0 = ClipSample(p0 + delta);
    const int new_q0 = ClipSample(q0 - delta);
    q[-step] = static_cast<uint8_t>(new_p0);
    q[0] = static_cast<uint8_t>(new_q0);
    if (!luma) return;
    if (std::abs(p2 - p0) < t.beta) {
        delta = std::clamp(((new_p0 - p1) * 3 + p2 - new_q0 + 4) >> 3, -t.clip, t.clip);
        q[-2 * step] = ClipSample(p1 + delta);
    }
    if (std::abs(q2 - q0) < t.beta) {
        delta = std::clamp(((q1 - new_q0) * 3 + new_p0 - q2 + 4) >> 3, -t.clip, t.clip);
        q[step] = ClipSample(q1 - delta);
    }
}

// Filters `length` lines of an edge starting at `first` (the first sample past the edge);
// `along` steps from line to line, `across` over the edge.
void FilterEdge(uint8_t* first, int along, int across, int length, int strength,
                const Thresholds& t, bool luma) {
    if (strength == 0) return;
    for (int i = 0; i < length; ++i) FilterLine(first + i * along, across, strength, t, luma);
}

int Strength(const MotionInfo& p, const MotionInfo& q) {
    if (p.ref == kIntraRef || q.ref == kIntraRef) return 2;
    if (p.ref != q.ref || std::abs(p.x - q.x) >= 4 || std::abs(p.y - q.y) >= 4) return 1;
    return 0;
}

}  // namespace

void DeblockPicture(Frame& frame, const std::vector<MotionInfo>& motion, int qp, int alpha_offset,
                    int beta_offset, const std::vector<MotionInfo>* backward) {
    DeblockRows(frame, motion, qp, alpha_offset, beta_offset, 0, frame.Height() / 16, backward);
}

void DeblockRows(Frame& frame, const std::vector<MotionInfo>& motion, int qp, int alpha_offset,
                 int beta_offset, int first_row, int end_row,
                 const std::vector<MotionInfo>* backward) {
    const int mb_width = frame.Width() / 16;
    const Thresholds luma = ThresholdsFor(qp, alpha_offset, beta_offset);
    const Thresholds chroma = ThresholdsFor(ChromaQp(qp), alpha_offset, beta_offset);
    const int stride = frame.luma.width, chroma_stride = frame.cb.width;
    for (int mb_y = first_row; mb_y < end_row; ++mb_y)
        for (int mb_x = 0; mb_x < mb_width; ++mb_x) {
            const MotionInfo& here = motion[static_cast<size_t>(mb_y) * mb_width + mb_x];
            const int inner = here.ref == kIntraRef ? 2 : 0;
            uint8_t* y0 = frame.luma.Row(mb_y * 16) + mb_x * 16;
            uint8_t* chroma0[2] = {frame.cb.Row(mb_y * 8) + mb_x * 8,
                                   frame.cr.Row(mb_y * 8) + mb_x * 8};
            if (mb_x > 0) {
                const size_t left = static_cast<size_t>(mb_y) * mb_width + mb_x - 1;
                int s = Strength(motion[left], here);
                if (s == 0 && backward != nullptr)
                    s = Strength((*backward)[left], (*backward)[left + 1]);
                FilterEdge(y0, stride, 1, 16, s, luma, true);
                for (uint8_t* c : chroma0) FilterEdge(c, chroma_stride, 1, 8, s, chroma, false);
            }
            FilterEdge(y0 + 8, stride, 1, 16, inner, luma, true);
            if (mb_y > 0) {
                const size_t above = static_cast<size_t>(mb_y - 1) * mb_width + mb_x;
                int s = Strength(motion[above], here);
                if (s == 0 && backward != nullptr)
                    s = Strength((*backward)[above], (*backward)[above + mb_width]);
                FilterEdge(y0, 1, stride, 16, s, luma, true);
                for (uint8_t* c : chroma0) FilterEdge(c, 1, chroma_stride, 8, s, chroma, false);
            }
            FilterEdge(y0 + 8 * stride, 1, stride, 16, inner, luma, true);
        }
}

}  // namespace harrowgate
