#pragma once

#include <array>
#include <cstdint>

#include "tools/harrowgate/bit_writer.h"
#include "tools/harrowgate/vlc_tables.h"

namespace harrowgate {

// Zig-zag scan order of an 8x8 block (scan index -> raster index row*8+col).
extern const std::array<uint8_t, 64> kZigZag;

// Writes the quantised coefficients of one 8x8 block (raster order) with the adaptive 2D-VLC:
// (level, run) pairs from the last non-zero coefficient back to the first, then end-of-block.
void WriteBlockCoefficients(BitWriter& out, const std::array<int16_t, 64>& levels,
                            const RunLevelTableSet& tables);

}  // namespace harrowgate
