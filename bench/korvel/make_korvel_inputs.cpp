// Writes a synthetic AVS1-P2 elementary stream and its time-stamp file for Korvel:
//   make_korvel_inputs OUT.avs OUT.dat PICTURES [SLICES [SLICE_BYTES [GOP [FRAME_MS]]]]
// Pictures go I P B B P B B ..., a sequence header before each GOP, time stamps
// FRAME_MS apart in file order. The stream is written piece by piece.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "synthetic_avs.h"

namespace syn = avs::synthetic;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s OUT.avs OUT.dat PICTURES [SLICES [SLICE_BYTES [GOP [FRAME_MS]]]]\n",
                     argv[0]);
        return 2;
    }
    long pictures = std::atol(argv[3]);
    int slices = argc > 4 ? std::atoi(argv[4]) : 18;
    long slice_bytes = argc > 5 ? std::atol(argv[5]) : 600;
    int gop = argc > 6 ? std::atoi(argv[6]) : 12;
    int frame_ms = argc > 7 ? std::atoi(argv[7]) : 40;
    if (pictures <= 0 || slices <= 0 || slice_bytes <= 0 || gop <= 0) {
        std::fprintf(stderr, "make_korvel_inputs: counts must be positive\n");
        return 2;
    }
    std::FILE* avs = std::fopen(argv[1], "wb");
    std::FILE* dat = std::fopen(argv[2], "wb");
    if (!avs || !dat) {
        std::fprintf(stderr, "make_korvel_inputs: cannot create output: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::setvbuf(avs, nullptr, _IOFBF, 1 << 20);
    std::mt19937 rng(12345);
    std::vector<uint8_t> seq = syn::SequenceHeader({});
    std::vector<uint8_t> chunk;
    for (long p = 0; p < pictures; ++p) {
        chunk.clear();
        long in_gop = p % gop;
        if (in_gop == 0) chunk.insert(chunk.end(), seq.begin(), seq.end());
        syn::PictureKind kind = in_gop == 0             ? syn::PictureKind::kI
                                : (in_gop - 1) % 3 == 0 ? syn::PictureKind::kP
                                                        : syn::PictureKind::kB;
        syn::AppendPicture(chunk, kind, slices, static_cast<size_t>(slice_bytes), rng);
        int32_t ms = static_cast<int32_t>(p * frame_ms);
        uint8_t le[4] = {static_cast<uint8_t>(ms), static_cast<uint8_t>(ms >> 8),
                         static_cast<uint8_t>(ms >> 16), static_cast<uint8_t>(ms >> 24)};
        if (std::fwrite(chunk.data(), 1, chunk.size(), avs) != chunk.size() ||
            std::fwrite(le, 1, 4, dat) != 4) {
            std::fprintf(stderr, "make_korvel_inputs: write failed: %s\n", std::strerror(errno));
            return 1;
        }
    }
    const uint8_t end[] = {0, 0, 1, 0xB1};
    std::fwrite(end, 1, 4, avs);
    if (std::fclose(avs) != 0 || std::fclose(dat) != 0) {
        std::fprintf(stderr, "make_korvel_inputs: write failed: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
