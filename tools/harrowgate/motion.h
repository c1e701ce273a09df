#pragma once

namespace harrowgate {

// A macroblock's motion as the decoder's vector prediction sees it. Vectors are in quarter
// samples; `ref` is 0 for a motion-compensated macroblock, kIntraRef for an intra one,
// kNoNeighbour outside the picture and kNoVector where a B picture's macroblock has no vector
// towards this reference.
struct MotionInfo {
    int x = 0;
    int y = 0;
    int ref = -1;
};

constexpr int kNoNeighbour = -1;
constexpr int kIntraRef = -2;
constexpr int kNoVector = -3;

// Distances between pictures as the decoder counts them: twice the difference of their
// picture_distance fields, modulo 512. Consecutive pictures are 2 apart.
int PictureGap(int later_picture_distance, int earlier_picture_distance);

// Predicted vector of a 16x16 macroblock from its neighbours left (a), above (b), above-right
// (c) and above-left (d), all pointing at the same reference `distance` away (PictureGap).
// `skipped` selects the rule of skipped macroblocks in predicted pictures, which use a zero
// vector when a left or upper neighbour is missing or still. The median candidates are
// rescaled to `distance` the decoder's way, which changes long vectors when the distance is
// not a power of two.
MotionInfo PredictMotion(const MotionInfo& a, const MotionInfo& b, const MotionInfo& c,
                         const MotionInfo& d, bool skipped, int distance = 2);

// The decoder's rescaling of one neighbour's vector component to `distance`.
int ScaleNeighbourComponent(int v, int distance);

// A B picture macroblock's direct vectors from the co-located vector `co` of the backward
// reference, which spans `co_distance`; `forward` and `backward` are the B picture's gaps to
// its two references.
void DirectVectors(const MotionInfo& co, int co_distance, int forward, int backward,
                   MotionInfo* forward_vector, MotionInfo* backward_vector);

// The backward vector a symmetric macroblock derives from its forward vector.
MotionInfo SymmetricBackward(const MotionInfo& forward_vector, int forward, int backward);

// One walk of a motion search: `consider(x, y)` prices a position and moves (x, y), which it
// refers to, there when cheaper; the walk tries the eight positions `step` around (x, y),
// again around where that led, at most `rounds` times, and stops where nothing moved.
template <typename Consider>
void WalkSquares(const int& x, const int& y, int step, int rounds, Consider&& consider) {
    for (int round = 0; round < rounds; ++round) {
        const int cx = x, cy = y;
        for (int oy = -step; oy <= step; oy += step)
            for (int ox = -step; ox <= step; ox += step)
                if (ox != 0 || oy != 0) consider(cx + ox, cy + oy);
        if (x == cx && y == cy) return;
    }
}

}  // namespace harrowgate
