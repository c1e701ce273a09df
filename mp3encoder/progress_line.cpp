#include "mp3encoder/progress_line.h"

#include <cmath>

namespace quenby {

int ProgressPercent(std::int64_t start_time, double length) {
    if (!(length > 0)) return 0;
    const double p = std::trunc(static_cast<double>(start_time) / (length * 100000.0));
    if (!(p > 0)) return 0;  // also catches NaN
    return p >= 100 ? 100 : static_cast<int>(p);
}

void WriteProgressBlock(FILE* console, int percent) {
    char block[80] = {0};
    std::snprintf(block, sizeof block, "\rProgress:\t  %d%%", percent);
    std::fwrite(block, 1, sizeof block, console);
    std::fflush(console);
}

void WriteFinalProgress(FILE* console) {
    std::fputs("\rProgress:\t100%", console);
    std::fflush(console);
}

}  // namespace quenby
