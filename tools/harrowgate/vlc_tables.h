#pragma once

#include <array>
#include <cstdint>

namespace harrowgate {

// One table of the context-adaptive 2D variable-length code for (level, run) pairs of a
// transform block. Codes 0..58 map to pairs or to end-of-block; codes from 59 up are escapes.
struct RunLevelTable {
    // Positive (level, run) pairs in code order; each pair takes two codes (+level, -level).
    std::array<std::array<uint8_t, 2>, 29> pairs;
    uint8_t end_of_block_code;             // the one code that ends a block
    std::array<int8_t, 27> escape_offset;  // smallest escaped |level| for a run <= max_run
    uint8_t golomb_order;                  // Exp-Golomb order of the table's codes
    int switch_limit;                      // |level| above this moves to a later table
    uint8_t max_run;
};

constexpr int kEscapeCode = 59;

struct RunLevelTableSet {
    const RunLevelTable* tables;
    int count;
    int escape_golomb_order;  // order of the escaped level's Exp-Golomb code
};

const RunLevelTableSet& IntraLumaTables();
const RunLevelTableSet& InterLumaTables();
const RunLevelTableSet& ChromaTables();

// Code number of an intra macroblock's coded-block pattern (bits 0-3 luma blocks, 4 Cb, 5 Cr).
int IntraCbpCode(int cbp);
// The same for an inter macroblock.
int InterCbpCode(int cbp);

}  // namespace harrowgate
