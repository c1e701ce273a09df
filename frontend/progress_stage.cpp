#include "frontend/progress_stage.h"

#include <cstring>

namespace avs::frontend {
namespace {

// The C library's atoi, but saturating instead of overflowing on long digit runs.
long long ReadInteger(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value < 1'000'000'000) value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<int> ScanProgress(const ReadBuffer& buffer, size_t read_bytes,
                                const ProgressStage& stage) {
    if (read_bytes < stage.min_read) return std::nullopt;
    const char* text = buffer.data();
    const char* percent = std::strrchr(text, '%');
    if (percent == nullptr) return std::nullopt;
    const size_t at = static_cast<size_t>(percent - text);
    const char* start =
        text + (at >= stage.digits_before_percent ? at - stage.digits_before_percent : 0);
    const long long p = ReadInteger(start);
    if (p > 100) return std::nullopt;
    return stage.base + static_cast<int>(static_cast<double>(p) * stage.scale);
}

}  // namespace avs::frontend
