// The progress blocks the front-end reads from Quenby's standard output.
#pragma once

#include <cstdint>
#include <cstdio>

namespace quenby {

// Percentage for a sample starting at `start_time` (100 ns units) of a source `length` seconds
// long, truncated toward zero and kept within 0..100; 0 when the length is unknown.
int ProgressPercent(std::int64_t start_time, double length);

// Writes "\rProgress:\t  <p>%" in a zeroed 80-byte block and flushes, so a reader polling the
// pipe sees whole blocks.
void WriteProgressBlock(FILE* console, int percent);

// The closing line, without the blanks of the running blocks.
void WriteFinalProgress(FILE* console);

}  // namespace quenby
