// Feeds arbitrary file heads to the code that finds and checks the header placeholder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tag_frame_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto offset = lame_enc::FirstFrameOffset(data, size);
    if (offset && *offset < size) {
        const std::vector<unsigned char> tag(data, data + std::min<std::size_t>(size, 4));
        lame_enc::IsPlaceholderFor(data + *offset, size - *offset, tag);
    }
    // The whole path through a real file: the file must stay as it was unless the placeholder
    // matched, and a matching write must not grow the file.
    static const std::string kPath = "/tmp/lame_enc_fuzz_" + std::to_string(::getpid()) + ".mp3";
    if (FILE* f = std::fopen(kPath.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        const std::vector<unsigned char> tag = {0xFF, 0xFB, 0x90, 0x44, 0, 0, 0, 0};
        lame_enc::WriteTagFrame(kPath.c_str(), tag);
        FILE* g = std::fopen(kPath.c_str(), "rb");
        if (g != nullptr) {
            std::fseek(g, 0, SEEK_END);
            if (static_cast<std::size_t>(std::ftell(g)) != size) __builtin_trap();
            std::fclose(g);
        }
    }
    return 0;
}
