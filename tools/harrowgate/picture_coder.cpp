#include "picture_coder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "block_coder.h"
#include "intra_prediction.h"
#include "vlc_tables.h"

namespace harrowgate {
namespace {

constexpr uint8_t kIntraPictureStartCode = 0xB3;
constexpr uint8_t kPredictedPictureStartCode = 0xB6;
constexpr uint8_t kFirstSliceStartCode = 0x00;
// Fraction added before truncating |coefficient| / step: a little below one half, which
// drops coefficients that would cost more bits than the error they remove.
constexpr double kRounding = 0.42;
// Differences from the previous picture are mostly noise: quantise them towards zero harder.
constexpr double kInterRounding = 0.3;

Neighbours neighbours_of(int mb_x, int mb_y, int mb_width) {
    return {mb_x > 0, mb_y > 0, mb_y > 0 && mb_x + 1 < mb_width};
}

bool is_zero(const Block& block) {
    return std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; });
}

// Predicts, transforms, quantises and reconstructs one 8x8 block in place.
Block code_block(const Plane& source, Plane& picture, int x0, int y0, const uint8_t prediction[64],
                 int qp, double rounding = kRounding) {
    std::array<int, 64> residual{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            residual[y * 8 + x] = source.at(x0 + x, y0 + y) - prediction[y * 8 + x];
    Block levels = quantise_residual_safely(residual, qp, rounding);
    uint8_t* out = picture.row(y0) + x0;
    for (int y = 0; y < 8; ++y) std::memcpy(out + y * picture.width, prediction + y * 8, 8);
    if (!is_zero(levels)) add_dequantised_block(levels, qp, out, picture.width);
    return levels;
}

}  // namespace

PictureCoder::PictureCoder(int width, int height, int qp)
    : mb_width_(width / 16), mb_height_(height / 16), qp_(qp), last_qp_(qp) {
    if (width <= 0 || height <= 0 || width % 16 != 0 || height % 16 != 0)
        throw std::invalid_argument("picture size must be whole macroblocks");
    if (qp < 0 || qp > 63) throw std::invalid_argument("qp out of range");
    reference_.resize(width, height);
    current_.resize(width, height);
}

std::vector<uint8_t> PictureCoder::encode(const Frame& source, PictureType type,
                                          int picture_distance) {
    if (source.width() != mb_width_ * 16 || source.height() != mb_height_ * 16)
        throw std::invalid_argument("source picture has the wrong size");
    if (type == PictureType::Predicted && !have_reference_) type = PictureType::Intra;
    // A start-code prefix inside the coded data is rare but fatal; a coarser quantiser
    // changes the codes, so try the next one. A predicted picture can always fall back to
    // repeating the previous picture, whose code is all one bits.
    for (int qp = qp_; qp <= 63; ++qp) {
        std::vector<uint8_t> unit = encode_with_qp(source, type, picture_distance, qp, false);
        if (!unit.empty()) return finish(std::move(unit), qp);
    }
    if (type == PictureType::Predicted) {
        std::vector<uint8_t> unit = encode_with_qp(source, type, picture_distance, qp_, true);
        if (!unit.empty()) return finish(std::move(unit), qp_);
    }
    throw std::runtime_error("picture cannot be coded without a start-code emulation");
}

std::vector<uint8_t> PictureCoder::finish(std::vector<uint8_t> unit, int qp) {
    std::swap(reference_, current_);
    have_reference_ = true;
    last_qp_ = qp;
    return unit;
}

std::vector<uint8_t> PictureCoder::encode_with_qp(const Frame& source, PictureType type,
                                                  int picture_distance, int qp, bool skip_all) {
    BitWriter header;
    write_picture_header(header, type, picture_distance, qp);
    BitWriter slice;
    slice.put_start_code(kFirstSliceStartCode);
    // Fixed picture qp: no slice qp. Predicted pictures carry slice_weighting_flag = 0.
    if (type == PictureType::Predicted) slice.put_bit(false);

    skipped_ = 0;
    modes_above_.assign(static_cast<size_t>(mb_width_) * 2, -1);
    for (int mb_y = 0; mb_y < mb_height_; ++mb_y)
        for (int mb_x = 0; mb_x < mb_width_; ++mb_x) {
            if (mb_x == 0) modes_left_[0] = modes_left_[1] = -1;
            if (type == PictureType::Predicted && (skip_all || can_skip(source, mb_x, mb_y, qp))) {
                copy_macroblock_from_reference(mb_x, mb_y);
                slice.put_ue(0);  // mb_type: skipped
                ++skipped_;
                continue;
            }
            if (type == PictureType::Predicted && prefer_inter(source, mb_x, mb_y)) {
                const InterMacroblock mb = code_inter_macroblock(source, mb_x, mb_y, qp);
                if (mb.cbp == 0) {
                    slice.put_ue(0);  // nothing left to code: the same as a skipped macroblock
                    ++skipped_;
                } else {
                    write_inter_macroblock(slice, mb);
                }
                continue;
            }
            const IntraMacroblock mb =
                code_intra_macroblock(source, mb_x, mb_y, qp, type == PictureType::Intra);
            if (type == PictureType::Predicted) {
                write_intra_macroblock(slice, mb, type);
                continue;
            }
            // Intra pictures: modes are written against the neighbours' modes.
            const int cbp_code = intra_cbp_code(mb.cbp);
            write_luma_modes(slice, mb, mb_x, type);
            write_intra_macroblock_tail(slice, mb, cbp_code, type);
        }
    slice.stuff_to_byte();

    std::vector<uint8_t> unit = header.take();
    const std::vector<uint8_t> slice_bytes = slice.take();
    // Check from each start-code value on: the slice's value byte is 00 and counts.
    if (contains_start_code_prefix(unit.data() + 3, unit.size() - 3) ||
        contains_start_code_prefix(slice_bytes.data() + 3, slice_bytes.size() - 3))
        return {};
    unit.insert(unit.end(), slice_bytes.begin(), slice_bytes.end());
    return unit;
}

void PictureCoder::write_picture_header(BitWriter& out, PictureType type, int picture_distance,
                                        int qp) {
    const bool intra = type == PictureType::Intra;
    out.put_start_code(intra ? kIntraPictureStartCode : kPredictedPictureStartCode);
    out.put_bits(0xFFFF, 16);  // bbv_delay: variable bit rate
    if (intra) {
        out.put_bit(false);  // time_code_flag
        out.put_bit(true);   // marker_bit
    } else {
        out.put_bits(1, 2);  // picture_coding_type: P
    }
    out.put_bits(static_cast<uint32_t>(picture_distance) & 0xFF, 8);
    out.put_bit(true);   // progressive_frame
    out.put_bit(false);  // top_field_first
    out.put_bit(false);  // repeat_first_field
    out.put_bit(true);   // fixed_picture_qp
    out.put_bits(static_cast<uint32_t>(qp), 6);
    if (!intra) {
        out.put_bit(true);   // picture_reference_flag: only the previous picture is a reference
        out.put_bits(0, 4);  // no_forward_reference_flag and reserved bits
        // skip_mode_flag 0: every macroblock has an mb_type; long skip runs would be long zero
        // runs, which can emulate a start code.
        out.put_bit(false);
    } else {
        out.put_bits(0, 4);  // reserved bits
    }
    // The loop filter is off: the reconstruction kept here is then exactly the decoder's.
    out.put_bit(true);
    out.stuff_to_byte();
}

PictureCoder::IntraMacroblock PictureCoder::code_intra_macroblock(const Frame& source, int mb_x,
                                                                  int mb_y, int qp,
                                                                  bool choose_luma_modes) {
    IntraMacroblock mb;
    const Neighbours available = neighbours_of(mb_x, mb_y, mb_width_);
    uint8_t prediction[64];
    for (int block = 0; block < 4; ++block) {
        const int x0 = mb_x * 16 + (block & 1) * 8;
        const int y0 = mb_y * 16 + (block >> 1) * 8;
        LumaMode chosen = LumaMode::LowPass;
        if (choose_luma_modes) {
            // Smallest absolute prediction error, with a small bias for the low-pass mode,
            // which costs the fewest bits most of the time.
            long best = -1;
            for (int m = 0; m <= 4; ++m) {
                const LumaMode mode = static_cast<LumaMode>(m);
                if (!luma_mode_allowed(block, available, mode)) continue;
                predict_luma_block(current_.luma, mb_x, mb_y, block, available, mode, prediction);
                long cost = mode == LumaMode::LowPass ? 0 : 24;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        cost += std::abs(source.luma.at(x0 + x, y0 + y) - prediction[y * 8 + x]);
                if (best < 0 || cost < best) {
                    best = cost;
                    chosen = mode;
                }
            }
        }
        mb.luma_modes[block] = static_cast<int>(chosen);
        predict_luma_block(current_.luma, mb_x, mb_y, block, available, chosen, prediction);
        mb.luma[block] = code_block(source.luma, current_.luma, x0, y0, prediction, qp);
        if (!is_zero(mb.luma[block])) mb.cbp |= 1 << block;
    }
    const int cqp = chroma_qp(qp);
    const Plane* sources[2] = {&source.cb, &source.cr};
    Plane* pictures[2] = {&current_.cb, &current_.cr};
    // One mode serves both chroma blocks: take the one with the smaller absolute error.
    ChromaMode modes[3];
    const int candidates = chroma_candidates(available, modes);
    ChromaMode best = modes[0];
    long best_cost = -1;
    uint8_t predictions[2][64];
    for (int m = 0; m < candidates && candidates > 1; ++m) {
        long cost = 0;
        for (int c = 0; c < 2; ++c) {
            predict_chroma_block(*pictures[c], mb_x, mb_y, available, modes[m], prediction);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    cost += std::abs(sources[c]->at(mb_x * 8 + x, mb_y * 8 + y) -
                                     prediction[y * 8 + x]);
        }
        if (best_cost < 0 || cost < best_cost) {
            best_cost = cost;
            best = modes[m];
        }
    }
    mb.chroma_mode = static_cast<int>(best);
    for (int c = 0; c < 2; ++c)
        predict_chroma_block(*pictures[c], mb_x, mb_y, available, best, predictions[c]);
    for (int c = 0; c < 2; ++c) {
        mb.chroma[c] =
            code_block(*sources[c], *pictures[c], mb_x * 8, mb_y * 8, predictions[c], cqp);
        if (!is_zero(mb.chroma[c])) mb.cbp |= 1 << (4 + c);
    }
    return mb;
}

void PictureCoder::write_intra_macroblock(BitWriter& out, const IntraMacroblock& mb,
                                          PictureType type) {
    const int cbp_code = intra_cbp_code(mb.cbp);
    // In predicted pictures (one mb_type per macroblock, 0 = skipped) mb_type 5 + n is an
    // intra macroblock with cbp code n.
    if (type == PictureType::Predicted) out.put_ue(static_cast<uint32_t>(5 + cbp_code));
    write_luma_modes(out, mb, -1, type);
    write_intra_macroblock_tail(out, mb, cbp_code, type);
}

void PictureCoder::write_luma_modes(BitWriter& out, const IntraMacroblock& mb, int mb_x,
                                    PictureType type) {
    if (type == PictureType::Predicted) {
        // Only the low-pass mode is used here, and it is always the predicted one: whatever
        // a neighbour holds (low-pass, or nothing for inter and skipped macroblocks), the
        // prediction falls back to low-pass.
        out.put_bits(0xF, 4);
        return;
    }
    for (int block = 0; block < 4; ++block) {
        const int from_left = (block & 1) ? mb.luma_modes[block - 1] : modes_left_[block >> 1];
        const int from_above =
            (block & 2) ? mb.luma_modes[block - 2] : modes_above_[mb_x * 2 + (block & 1)];
        int predicted = std::min(from_left, from_above);
        if (predicted < 0) predicted = static_cast<int>(LumaMode::LowPass);
        const int mode = mb.luma_modes[block];
        if (mode == predicted) {
            out.put_bit(true);
        } else {
            out.put_bit(false);
            out.put_bits(static_cast<uint32_t>(mode < predicted ? mode : mode - 1), 2);
        }
    }
    modes_left_[0] = mb.luma_modes[1];
    modes_left_[1] = mb.luma_modes[3];
    modes_above_[mb_x * 2] = mb.luma_modes[2];
    modes_above_[mb_x * 2 + 1] = mb.luma_modes[3];
}

void PictureCoder::write_intra_macroblock_tail(BitWriter& out, const IntraMacroblock& mb,
                                               int cbp_code, PictureType type) {
    out.put_ue(static_cast<uint32_t>(mb.chroma_mode));
    if (type == PictureType::Intra) out.put_ue(static_cast<uint32_t>(cbp_code));
    for (int block = 0; block < 4; ++block)
        if (mb.cbp & (1 << block))
            write_block_coefficients(out, mb.luma[block], intra_luma_tables());
    for (int c = 0; c < 2; ++c)
        if (mb.cbp & (1 << (4 + c))) write_block_coefficients(out, mb.chroma[c], chroma_tables());
}

bool PictureCoder::prefer_inter(const Frame& source, int mb_x, int mb_y) const {
    // The usual test: code the difference unless the macroblock on its own (its deviation
    // from its mean) is clearly cheaper than its difference from the previous picture.
    int difference = 0;
    int sum = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* s = source.luma.row(mb_y * 16 + y) + mb_x * 16;
        const uint8_t* r = reference_.luma.row(mb_y * 16 + y) + mb_x * 16;
        for (int x = 0; x < 16; ++x) {
            difference += std::abs(s[x] - r[x]);
            sum += s[x];
        }
    }
    const int mean = (sum + 128) / 256;
    int deviation = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* s = source.luma.row(mb_y * 16 + y) + mb_x * 16;
        for (int x = 0; x < 16; ++x) deviation += std::abs(s[x] - mean);
    }
    return difference < deviation + 512;
}

PictureCoder::InterMacroblock PictureCoder::code_inter_macroblock(const Frame& source, int mb_x,
                                                                  int mb_y, int qp) {
    InterMacroblock mb;
    uint8_t prediction[64];
    for (int block = 0; block < 4; ++block) {
        const int x0 = mb_x * 16 + (block & 1) * 8;
        const int y0 = mb_y * 16 + (block >> 1) * 8;
        for (int y = 0; y < 8; ++y)
            std::memcpy(prediction + y * 8, reference_.luma.row(y0 + y) + x0, 8);
        mb.luma[block] =
            code_block(source.luma, current_.luma, x0, y0, prediction, qp, kInterRounding);
        if (!is_zero(mb.luma[block])) mb.cbp |= 1 << block;
    }
    const Plane* sources[2] = {&source.cb, &source.cr};
    const Plane* references[2] = {&reference_.cb, &reference_.cr};
    Plane* pictures[2] = {&current_.cb, &current_.cr};
    for (int c = 0; c < 2; ++c) {
        for (int y = 0; y < 8; ++y)
            std::memcpy(prediction + y * 8, references[c]->row(mb_y * 8 + y) + mb_x * 8, 8);
        mb.chroma[c] = code_block(*sources[c], *pictures[c], mb_x * 8, mb_y * 8, prediction,
                                  chroma_qp(qp), kInterRounding);
        if (!is_zero(mb.chroma[c])) mb.cbp |= 1 << (4 + c);
    }
    return mb;
}

void PictureCoder::write_inter_macroblock(BitWriter& out, const InterMacroblock& mb) {
    out.put_ue(1);  // mb_type: one 16x16 partition
    // Every motion vector in these pictures is zero, so every prediction of one is zero too.
    out.put_se(0);
    out.put_se(0);
    out.put_ue(static_cast<uint32_t>(inter_cbp_code(mb.cbp)));
    for (int block = 0; block < 4; ++block)
        if (mb.cbp & (1 << block))
            write_block_coefficients(out, mb.luma[block], inter_luma_tables());
    for (int c = 0; c < 2; ++c)
        if (mb.cbp & (1 << (4 + c))) write_block_coefficients(out, mb.chroma[c], chroma_tables());
}

bool PictureCoder::can_skip(const Frame& source, int mb_x, int mb_y, int qp) const {
    // Skip when repeating the previous picture's macroblock costs no more error than the
    // quantiser would leave: squared error per sample below step^2 / 12 (luma, step in
    // sample units is about half the coefficient step) and no sample far off.
    const double step = dequant_multiplier(qp) / static_cast<double>(1 << dequant_shift(qp)) / 2;
    const double limit = std::max(1.0, step * step / 12.0);
    long long squared = 0;
    int worst = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* s = source.luma.row(mb_y * 16 + y) + mb_x * 16;
        const uint8_t* r = reference_.luma.row(mb_y * 16 + y) + mb_x * 16;
        for (int x = 0; x < 16; ++x) {
            const int d = s[x] - r[x];
            squared += d * d;
            worst = std::max(worst, d < 0 ? -d : d);
        }
    }
    for (const auto& [src, ref] :
         {std::pair{&source.cb, &reference_.cb}, std::pair{&source.cr, &reference_.cr}})
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const int d =
                    src->at(mb_x * 8 + x, mb_y * 8 + y) - ref->at(mb_x * 8 + x, mb_y * 8 + y);
                squared += d * d;
                worst = std::max(worst, d < 0 ? -d : d);
            }
    return static_cast<double>(squared) / 384.0 <= limit && worst <= std::max(4.0, 3 * step);
}

void PictureCoder::copy_macroblock_from_reference(int mb_x, int mb_y) {
    for (int y = 0; y < 16; ++y)
        std::memcpy(current_.luma.row(mb_y * 16 + y) + mb_x * 16,
                    reference_.luma.row(mb_y * 16 + y) + mb_x * 16, 16);
    for (int y = 0; y < 8; ++y) {
        std::memcpy(current_.cb.row(mb_y * 8 + y) + mb_x * 8,
                    reference_.cb.row(mb_y * 8 + y) + mb_x * 8, 8);
        std::memcpy(current_.cr.row(mb_y * 8 + y) + mb_x * 8,
                    reference_.cr.row(mb_y * 8 + y) + mb_x * 8, 8);
    }
}

}  // namespace harrowgate
