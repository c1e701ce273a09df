// Writes a large synthetic AVS elementary stream for the playback benchmark:
//   make_branwick_input OUT.avs MEGABYTES
// 1920x1080 at 25 frames per second, a sequence header and an I picture every 12
// pictures, about 100 kB per picture; prints the number of pictures written.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "synthetic_avs.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_branwick_input OUT.avs MEGABYTES\n");
        return 2;
    }
    const long long target = std::atoll(argv[2]) * 1000000LL;
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || target <= 0) {
        std::fprintf(stderr, "make_branwick_input: cannot write %s\n", argv[1]);
        return 1;
    }
    avs::synthetic::SequenceFields f;
    f.horizontal_size = 1920;
    f.vertical_size = 1080;
    f.frame_rate_code = 3;  // 25
    const auto seq = avs::synthetic::SequenceHeader(f);
    // A few distinct pictures of each kind, repeated: the bytes only need to be
    // start-code free, not all different.
    std::mt19937 rng(1);
    using Kind = avs::synthetic::PictureKind;
    std::vector<std::vector<uint8_t>> pictures[3];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) {
            std::vector<uint8_t> p;
            avs::synthetic::AppendPicture(p, static_cast<Kind>(k), 68, 1500, rng);
            pictures[k].push_back(std::move(p));
        }
    long long written = 0, count = 0;
    while (written < target) {
        const int in_gop = count % 12;
        const Kind kind = in_gop == 0 ? Kind::kI : (in_gop - 1) % 3 == 0 ? Kind::kP : Kind::kB;
        if (in_gop == 0) written += std::fwrite(seq.data(), 1, seq.size(), out);
        const auto& p = pictures[static_cast<int>(kind)][count % 4];
        written += std::fwrite(p.data(), 1, p.size(), out);
        ++count;
    }
    const uint8_t end[] = {0, 0, 1, 0xB1};
    std::fwrite(end, 1, 4, out);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "make_branwick_input: writing %s failed\n", argv[1]);
        return 1;
    }
    std::printf("%lld\n", count);
    return 0;
}
