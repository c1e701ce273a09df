#include "tools/harrowgate/progress.h"

#include <algorithm>

namespace harrowgate {

std::string FormatProgress(int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "\r%3d%%", std::clamp(percent, 0, 100));
    return text;
}

ProgressPrinter::ProgressPrinter(std::FILE* out, int64_t expected_pictures)
    : out_(out), expected_(expected_pictures) {
    Print(0, false);
}

void ProgressPrinter::Update(int64_t pictures_done) {
    if (expected_ <= 0) return;
    // 100 only once the stream is complete; the count may be an estimate.
    const int percent = static_cast<int>(std::min<int64_t>(99, pictures_done * 100 / expected_));
    if (percent != shown_) Print(percent, false);
}

void ProgressPrinter::Finish() {
    Print(100, true);
}

void ProgressPrinter::Print(int percent, bool last) {
    std::string text = FormatProgress(percent);
    if (last) text += '\n';
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    shown_ = percent;
}

}  // namespace harrowgate
