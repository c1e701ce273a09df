// Media files for tests of the receive side: a real AVS stream from the test
// data and a generated MPEG audio file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace rtspstreamtest {

inline std::string SampleAvs() {
    return std::string(AVS_TEST_DATA_DIR) + "/xavs_cif352x288_25fps_IBP_100f.avs";
}

// MPEG-1 Layer III frames, 128 kbit/s at 44.1 kHz (417 bytes each), whose
// bodies carry their index so that each frame is distinct.
inline std::string WriteMp3(const std::string& name, int frames) {
    std::string path = ::testing::TempDir() + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    for (int i = 0; i < frames; ++i) {
        std::vector<unsigned char> frame(417, static_cast<unsigned char>(i * 7));
        frame[0] = 0xFF;
        frame[1] = 0xFB;
        frame[2] = 0x90;
        frame[3] = 0x64;
        frame[4] = static_cast<unsigned char>(i >> 8);
        frame[5] = static_cast<unsigned char>(i);
        std::fwrite(frame.data(), 1, frame.size(), f);
    }
    std::fclose(f);
    return path;
}

inline std::vector<unsigned char> ReadRange(const std::string& path, long offset, size_t length) {
    std::vector<unsigned char> out(length);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, offset, SEEK_SET);
    out.resize(std::fread(out.data(), 1, length, f));
    std::fclose(f);
    return out;
}

}  // namespace rtspstreamtest
