#pragma once

namespace harrowgate {

// A macroblock's motion as the decoder's vector prediction sees it. Vectors are in quarter
// samples; `ref` is 0 for a motion-compensated macroblock, kIntraRef for an intra one and
// kNoNeighbour outside the picture.
struct MotionInfo {
    int x = 0;
    int y = 0;
    int ref = -1;
};

constexpr int kNoNeighbour = -1;
constexpr int kIntraRef = -2;

// Predicted vector of a 16x16 macroblock from its neighbours left (a), above (b), above-right
// (c) and above-left (d). `skipped` selects the rule of skipped macroblocks, which use a zero
// vector when a left or upper neighbour is missing or still. Both pictures are one
// picture-distance step apart, so the decoder's distance scaling leaves vectors unchanged.
MotionInfo PredictMotion(const MotionInfo& a, const MotionInfo& b, const MotionInfo& c,
                         const MotionInfo& d, bool skipped);

}  // namespace harrowgate
