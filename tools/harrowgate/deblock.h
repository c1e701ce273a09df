#pragma once

#include <vector>

#include "tools/harrowgate/frame.h"
#include "tools/harrowgate/motion.h"

namespace harrowgate {

// The standard's loop filter over one decoded picture, in place: macroblock by macroblock in
// raster order, vertical edges then horizontal ones, on the 8x8 luma and the macroblock
// chroma block edges. `motion` holds each macroblock's motion (kIntraRef for intra ones), all
// coded at `qp`; the offsets (-8..8) shift the quantiser the thresholds are looked up by.
// B pictures pass their backward vectors too, which an edge's strength also compares.
void DeblockPicture(Frame& frame, const std::vector<MotionInfo>& motion, int qp,
                    int alpha_offset = 0, int beta_offset = 0,
                    const std::vector<MotionInfo>* backward = nullptr);

}  // namespace harrowgate
