#include "progress.h"

#include <algorithm>

namespace harrowgate {

std::string format_progress(int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "\r%3d%%", std::clamp(percent, 0, 100));
    return text;
}

ProgressPrinter::ProgressPrinter(std::FILE* out, int64_t expected_pictures)
    : out_(out), expected_(expected_pictures) {
    print(0, false);
}

void ProgressPrinter::update(int64_t pictures_done) {
    if (expected_ <= 0) return;
    // 100 only once the stream is complete; the count may be an estimate.
    const int percent = static_cast<int>(std::min<int64_t>(99, pictures_done * 100 / expected_));
    if (percent != shown_) print(percent, false);
}

void ProgressPrinter::finish() {
    print(100, true);
}

void ProgressPrinter::print(int percent, bool last) {
    std::string text = format_progress(percent);
    if (last) text += '\n';
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    shown_ = percent;
}

}  // namespace harrowgate
