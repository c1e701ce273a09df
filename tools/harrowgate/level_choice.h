#pragma once

// The rate-distortion trim of a block's quantised levels: each level is lowered by one where
// the bits that saves outweigh the error it adds, with the adaptive 2D-VLC's real code lengths
// (a lone coefficient far down the scan costs many bits for little error; a large one next to
// others costs about nothing more than one smaller).

#include <array>

#include "tools/harrowgate/transform.h"
#include "tools/harrowgate/vlc_tables.h"

namespace harrowgate {

// `magnitudes`: each coefficient's |value| in quantiser steps (raster order; read only where
// `levels` is not zero), of which `levels` is the quantised one. `lambda`: bits against squared
// error, the error of a coefficient being its distance from its level in steps, weighted by how
// much of the reconstructed block it moves. Levels only shrink towards zero, and a block whose
// levels are not worth their bits becomes all zero.
void TrimLevels(Block& levels, const std::array<float, 64>& magnitudes,
                const RunLevelTableSet& tables, double lambda);

}  // namespace harrowgate
