// Feeds arbitrary child output through the read buffer as successive reads, and arbitrary
// text through the command-line splitter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "frontend/progress_stage.h"
#include "process/command_line.h"

using avs::frontend::ReadBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadBuffer buffer{};
    size_t at = 0;
    while (at < size) {
        // The first byte of each piece chooses its length, as reads come in any size.
        const size_t want = 1 + data[at] % avs::frontend::kReadChunk;
        ++at;
        const size_t n = want < size - at ? want : size - at;
        std::memcpy(buffer.data(), data + at, n);
        at += n;
        for (const auto* stage : {&avs::frontend::kVideoStage, &avs::frontend::kAudioStage}) {
            const auto value = avs::frontend::ScanProgress(buffer, n, *stage);
            if (value && *value > stage->end_value) std::abort();  // 100% maps below the end value
        }
        if (buffer[avs::frontend::kReadChunk] != 0) std::abort();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t total = 0;
    for (const auto& arg : avs::process::SplitCommandLine(text)) total += arg.size();
    if (total > size) std::abort();
    return 0;
}
