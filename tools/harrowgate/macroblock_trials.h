#pragma once

// The rate-distortion choice of a macroblock's coding: codings are tried one after another,
// each coded into its own bits and into the picture being built, and the one with the least
// squared error plus lambda times its bits is kept.

#include <cstdint>

#include "tools/harrowgate/bit_writer.h"
#include "tools/harrowgate/frame.h"

namespace harrowgate {

class MacroblockTrials {
  public:
    // `picture` is where each trial reconstructs the macroblock at (mb_x, mb_y).
    MacroblockTrials(Frame& picture, const Frame& source, int mb_x, int mb_y, double lambda);

    // Records the trial just reconstructed in the picture, coded as `bits`, under `tag` (0 or
    // more).
    void Offer(const BitWriter& bits, int tag);
    // Puts the cheapest trial's samples back into the picture and appends its bits to `out`;
    // returns its tag (-1 when nothing was offered).
    int Keep(BitWriter& out);

  private:
    struct Samples {
        uint8_t luma[256];
        uint8_t chroma[2][64];
    };
    void Save(Samples& into) const;
    double SquaredError() const;

    Frame& picture_;
    const Frame& source_;
    int mb_x_, mb_y_;
    double lambda_;
    Samples best_samples_;
    BitWriter best_bits_;
    double best_cost_ = 0;
    int best_tag_ = -1;
};

}  // namespace harrowgate
