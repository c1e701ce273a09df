#pragma once
// How a piped stage turns the child's output into a bar value.

#include <array>
#include <cstddef>
#include <optional>

namespace avs::frontend {

inline constexpr size_t kReadChunk = 80;
// 80 bytes of output and a terminating zero that reads never overwrite.
using ReadBuffer = std::array<char, kReadChunk + 1>;

struct ProgressStage {
    size_t min_read;               // shorter reads are not scanned
    size_t digits_before_percent;  // the number starts this many characters before the '%'
    double scale;                  // bar = base + trunc(p * scale)
    int base;
    int end_value;  // bar and label once the child has ended
    const char* end_text;
};

inline constexpr ProgressStage kVideoStage{5, 3, 0.95, 0, 95, "95%"};
inline constexpr ProgressStage kAudioStage{4, 2, 0.04, 95, 99, "99%"};

// Reads the buffer's text (up to its first zero byte) after a read of read_bytes bytes and
// returns the bar value it asks for, or nothing when the read is too short, holds no '%' or
// names a percentage above 100.
std::optional<int> ScanProgress(const ReadBuffer& buffer, size_t read_bytes,
                                const ProgressStage& stage);

}  // namespace avs::frontend
