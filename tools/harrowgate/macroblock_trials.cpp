#include "tools/harrowgate/macroblock_trials.h"

#include <cstring>
#include <stdexcept>

namespace harrowgate {

MacroblockTrials::MacroblockTrials(Frame& picture, const Frame& source, int mb_x, int mb_y,
                                   double lambda)
    : picture_(picture), source_(source), mb_x_(mb_x), mb_y_(mb_y), lambda_(lambda) {}

void MacroblockTrials::Offer(const BitWriter& bits, int tag) {
    if (tag < 0) throw std::invalid_argument("a trial's tag is 0 or more");
    const double cost = SquaredError() + lambda_ * static_cast<double>(bits.BitPosition());
    // The first of equally cheap trials wins.
    if (best_tag_ >= 0 && cost >= best_cost_) return;
    best_cost_ = cost;
    best_tag_ = tag;
    best_bits_ = bits;
    Save(best_samples_);
}

int MacroblockTrials::Keep(BitWriter& out) {
    if (best_tag_ < 0) return -1;
    for (int y = 0; y < 16; ++y)
        std::memcpy(picture_.luma.Row(mb_y_ * 16 + y) + mb_x_ * 16, best_samples_.luma + y * 16,
                    16);
    Plane* chroma[2] = {&picture_.cb, &picture_.cr};
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < 8; ++y)
            std::memcpy(chroma[c]->Row(mb_y_ * 8 + y) + mb_x_ * 8, best_samples_.chroma[c] + y * 8,
                        8);
    out.Append(best_bits_);
    return best_tag_;
}

void MacroblockTrials::Save(Samples& into) const {
    for (int y = 0; y < 16; ++y)
        std::memcpy(into.luma + y * 16, picture_.luma.Row(mb_y_ * 16 + y) + mb_x_ * 16, 16);
    const Plane* chroma[2] = {&picture_.cb, &picture_.cr};
    for (int c = 0; c < 2; ++c)
        for (int y = 0; y < 8; ++y)
            std::memcpy(into.chroma[c] + y * 8, chroma[c]->Row(mb_y_ * 8 + y) + mb_x_ * 8, 8);
}

double MacroblockTrials::SquaredError() const {
    long long total = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* p = source_.luma.Row(mb_y_ * 16 + y) + mb_x_ * 16;
        const uint8_t* q = picture_.luma.Row(mb_y_ * 16 + y) + mb_x_ * 16;
        for (int x = 0; x < 16; ++x) total += (p[x] - q[x]) * (p[x] - q[x]);
    }
    for (const auto plane : {&Frame::cb, &Frame::cr})
        for (int y = 0; y < 8; ++y) {
            const uint8_t* p = (source_.*plane).Row(mb_y_ * 8 + y) + mb_x_ * 8;
            const uint8_t* q = (picture_.*plane).Row(mb_y_ * 8 + y) + mb_x_ * 8;
            for (int x = 0; x < 8; ++x) total += (p[x] - q[x]) * (p[x] - q[x]);
        }
    return static_cast<double>(total);
}

}  // namespace harrowgate
