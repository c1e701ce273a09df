#pragma once

#include <cstdint>

#include "tools/harrowgate/frame.h"

namespace harrowgate {

// Which neighbours of the current macroblock have been decoded already.
struct Neighbours {
    bool left;       // macroblock to the left
    bool top;        // macroblock above
    bool top_right;  // macroblock above and to the right
};

// Luma prediction modes as signalled (intra_luma_pred_mode).
enum class LumaMode { kVertical = 0, kHorizontal = 1, kLowPass = 2, kDownLeft = 3, kDownRight = 4 };

// Whether the decoder accepts `mode` for luma block `block` (0 top-left, 1 top-right,
// 2 bottom-left, 3 bottom-right) with these neighbours. The low-pass mode always is: the
// decoder narrows it to the sides that exist.
bool LumaModeAllowed(int block, const Neighbours& available, LumaMode mode);

// Prediction of one luma block of the macroblock at (mb_x, mb_y) from the reconstructed
// samples in `picture`, with the decoder's substitutions for missing neighbours.
void PredictLumaBlock(const Plane& picture, int mb_x, int mb_y, int block,
                      const Neighbours& available, LumaMode mode, uint8_t prediction[64]);

// Chroma prediction modes as signalled (intra_chroma_pred_mode).
enum class ChromaMode { kLowPass = 0, kHorizontal = 1, kVertical = 2, kPlane = 3 };

// Prediction of a macroblock's 8x8 chroma block in `mode`, with the decoder's substitutions
// for missing neighbours (only modes valid for the neighbours at hand may be passed).
void PredictChromaBlock(const Plane& picture, int mb_x, int mb_y, const Neighbours& available,
                        ChromaMode mode, uint8_t prediction[64]);

// Modes worth trying for these neighbours. They avoid the low-pass filters' samples beyond the
// block edge, which decoders do not agree on for chroma.
int ChromaCandidates(const Neighbours& available, ChromaMode modes[3]);

}  // namespace harrowgate
