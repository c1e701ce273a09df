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

// The same for the rows of macroblocks first_row..end_row-1 only. Filtering rows in order,
// each after the one above, gives the whole picture's result: a row's filter reaches only
// into the three bottom lines of the row above.
void DeblockRows(Frame& frame, const std::vector<MotionInfo>& motion, int qp, int alpha_offset,
                 int beta_offset, int first_row, int end_row,
                 const std::vector<MotionInfo>* backward = nullptr);

}  // namespace harrowgate
