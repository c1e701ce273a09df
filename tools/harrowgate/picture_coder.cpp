#include "tools/harrowgate/picture_coder.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tools/harrowgate/block_coder.h"
#include "tools/harrowgate/deblock.h"
#include "tools/harrowgate/intra_prediction.h"
#include "tools/harrowgate/level_choice.h"
#include "tools/harrowgate/macroblock_trials.h"
#include "tools/harrowgate/row_workers.h"
#include "tools/harrowgate/sample_kernels.h"
#include "tools/harrowgate/vlc_tables.h"

namespace harrowgate {
namespace {

constexpr uint8_t kIntraPictureStartCode = 0xB3;
constexpr uint8_t kPredictedPictureStartCode = 0xB6;
constexpr uint8_t kFirstSliceStartCode = 0x00;
// Coefficients are rounded to the nearest level, and then trimmed by rate and distortion
// (TrimLevels), which drops or lowers the levels not worth their bits. Against a fixed dead
// zone with the trim (a coefficient coded from 0.7 of a step and rounded at 0.45 above in
// inter blocks, at 0.42 in intra blocks), BD-PSNR Y / average over -q 20/24/28 rose 0.26 /
// 0.28 dB on 720p testsrc2 and 0.11 / 0.09 dB on the camera clip.
constexpr double kRounding = 0.5;

// Bits against squared error when choosing how to code a macroblock, times the squared
// quantiser step in samples.
constexpr double kRdoLambdaScale = 0.1;
// Bits against squared error in quantiser steps when the levels of a block are trimmed
// (TrimLevels). Inter blocks take the weight of the macroblock choice; intra blocks, whose
// error the pictures after them inherit, a third of it. Against no trim (with the dead zone
// then in use), BD-PSNR (Y / average) over -q 20/24/28 at the dialog's defaults: +0.25 /
// +0.16 dB on 720p testsrc2, +0.49 / +0.31 dB on the camera clip. The same weight for both
// lost 0.05 dB average there, chroma left untrimmed 0.1-0.2 dB.
constexpr double kInterTrim = kRdoLambdaScale;
constexpr double kIntraTrim = 0.03;

Neighbours NeighboursOf(int mb_x, int mb_y, int mb_width) {
    return {mb_x > 0, mb_y > 0, mb_y > 0 && mb_x + 1 < mb_width};
}

bool IsZero(const Block& block) {
    return std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; });
}

// Predicts, transforms, quantises and reconstructs one 8x8 block in place; its levels, to be
// coded with `tables`, are trimmed with the weight `trim` (TrimLevels).
Block CodeBlock(const Plane& source, Plane& picture, int x0, int y0, const uint8_t prediction[64],
                int qp, const RunLevelTableSet& tables, double trim) {
    std::array<int, 64> residual{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            residual[y * 8 + x] = source.At(x0 + x, y0 + y) - prediction[y * 8 + x];
    std::array<float, 64> magnitudes;
    Block levels = QuantiseResidualSafely(residual, qp, kRounding, &magnitudes);
    if (!IsZero(levels)) {
        Block trimmed = levels;
        TrimLevels(trimmed, magnitudes, tables, trim);
        // Lowering a level can still take a sum of the inverse transform past 16 bits.
        if (trimmed != levels && Fits16BitInverseTransformFast(trimmed, qp)) levels = trimmed;
    }
    uint8_t* out = picture.Row(y0) + x0;
    for (int y = 0; y < 8; ++y) std::memcpy(out + y * picture.width, prediction + y * 8, 8);
    if (!IsZero(levels)) AddDequantisedBlockFast(levels, qp, out, picture.width);
    return levels;
}

// An 8x8 block as one trial coded it: its levels and reconstructed samples.
struct CodedSamples {
    Block levels{};
    uint8_t samples[64]{};
    void Save(const Plane& picture, int x0, int y0, const Block& coded) {
        levels = coded;
        for (int y = 0; y < 8; ++y) std::memcpy(samples + y * 8, picture.Row(y0 + y) + x0, 8);
    }
    // Puts the samples back; returns the levels.
    const Block& Restore(Plane& picture, int x0, int y0) const {
        for (int y = 0; y < 8; ++y) std::memcpy(picture.Row(y0 + y) + x0, samples + y * 8, 8);
        return levels;
    }
};

// Squared error of the 8x8 block at (x0, y0) as coded, plus `lambda` times its coefficient
// bits and `other_bits`.
double CodedBlockCost(const Plane& source, const Plane& picture, int x0, int y0,
                      const Block& levels, const RunLevelTableSet& tables, double lambda,
                      int other_bits) {
    const int bits = IsZero(levels) ? 0 : BlockCoefficientBits(levels, tables);
    long long squared = 0;
    int worst = 0;
    DifferenceStats(source.Row(y0) + x0, source.width, picture.Row(y0) + x0, picture.width, 8, 8,
                    &squared, &worst);
    return static_cast<double>(squared) + lambda * static_cast<double>(bits + other_bits);
}

}  // namespace

void ReducePlane(const Plane& in, Plane& out) {
    if (out.width != in.width / 4 || out.height != in.height / 4)
        out.Resize(in.width / 4, in.height / 4);
    for (int y = 0; y < out.height; ++y)
        Reduce4x4Row(in.Row(y * 4), in.width, out.width, out.Row(y));
}

MotionInfo CoarseSearch(const Plane& reduced_source, const Plane& reduced_reference, int mb_x,
                        int mb_y, int reach) {
    reach = std::min(reach, kCoarseSearchReach);
    const int rx = mb_x * 4, ry = mb_y * 4;
    int best = -1, best_x = 0, best_y = 0;
    if (rx + 4 > reduced_source.width || ry + 4 > reduced_source.height) return MotionInfo{0, 0, 0};
    const int first_x = std::max(-reach, -rx);
    const int last_x = std::min(reach, reduced_reference.width - 4 - rx);
    if (last_x < first_x) return MotionInfo{0, 0, 0};
    int sads[2 * kCoarseSearchReach + 1];
    for (int dy = -reach; dy <= reach; ++dy) {
        if (ry + dy < 0 || ry + dy + 4 > reduced_reference.height) continue;
        Sad4x4Row(reduced_source.Row(ry) + rx, reduced_source.width,
                  reduced_reference.Row(ry + dy) + rx + first_x, reduced_reference.width,
                  last_x - first_x + 1, sads);
        for (int dx = first_x; dx <= last_x; ++dx) {
            const int sad = sads[dx - first_x];
            // Ties go to the shorter vector.
            if (best < 0 || sad < best ||
                (sad == best &&
                 std::abs(dx) + std::abs(dy) < std::abs(best_x) + std::abs(best_y))) {
                best = sad;
                best_x = dx;
                best_y = dy;
            }
        }
    }
    return MotionInfo{best_x * 4, best_y * 4, 0};
}

PictureCoder::PictureCoder(int width, int height, int qp, int search_range)
    : mb_width_(width / 16),
      mb_height_(height / 16),
      qp_(qp),
      search_range_(search_range),
      last_qp_(qp) {
    if (search_range < 0) throw std::invalid_argument("negative search range");
    if (width <= 0 || height <= 0 || width % 16 != 0 || height % 16 != 0)
        throw std::invalid_argument("picture size must be whole macroblocks");
    if (qp < 0 || qp > 63) throw std::invalid_argument("qp out of range");
    reference_ = std::make_shared<Frame>();
    forward_reference_ = std::make_shared<Frame>();
    reference_->Resize(width, height);
    forward_reference_->Resize(width, height);
    current_.Resize(width, height);
}

std::vector<uint8_t> PictureCoder::Encode(const Frame& source, PictureType type,
                                          int picture_distance) {
    // The work before the rows is this picture's only, also where its rows are not shared.
    struct DropWork {
        std::function<void()>& work;
        ~DropWork() { work = nullptr; }
    } drop_work{work_before_rows_};
    if (source.Width() != mb_width_ * 16 || source.Height() != mb_height_ * 16)
        throw std::invalid_argument("source picture has the wrong size");
    if (type == PictureType::kPredicted && !have_reference_) type = PictureType::kIntra;
    if (type == PictureType::kBidirectional && !have_forward_reference_)
        throw std::logic_error("a B picture needs two reference pictures");
    if (group_) {
        // Beside a group only its next reference picture may be coded.
        if (type == PictureType::kBidirectional)
            throw std::logic_error("a B picture cannot be coded beside a group of them");
        coded_beside_group_ = true;
    }
    coding_type_ = type;
    if (type != PictureType::kIntra) ReducePlane(source.luma, reduced_source_);
    coding_distance_ = picture_distance;
    if (type == PictureType::kPredicted) {
        forward_gap_ = PictureGap(picture_distance, reference_distance_);
    } else if (type == PictureType::kBidirectional) {
        forward_gap_ = PictureGap(picture_distance, forward_distance_);
        backward_gap_ = PictureGap(reference_distance_, picture_distance);
    }
    // The search range is per picture interval: a reference several pictures away (with B
    // pictures between) is searched that many times as far, within the vectors' range.
    picture_search_range_ = std::min(kLongestVector, search_range_ * std::max(1, forward_gap_ / 2));
    // A start-code prefix inside the coded data is rare but fatal; a coarser quantiser
    // changes the codes, so try the next one. A predicted picture can always fall back to
    // repeating the previous picture, whose code is all one bits.
    // A unit over the byte limit is coded again, coarser by steps that grow.
    int step = 1;
    std::vector<uint8_t> coarsest;  // the last unit coded, too large
    int coarsest_qp = qp_;
    for (int qp = qp_; qp <= 63;) {
        std::vector<uint8_t> unit = EncodeWithQp(source, type, picture_distance, qp, false);
        if (!unit.empty()) {
            if (byte_limit_ == 0 || unit.size() <= byte_limit_) return Finish(std::move(unit), qp);
            coarsest = std::move(unit);
            coarsest_qp = qp;
            if (qp == 63) break;
            qp = std::min(63, qp + step);
            step = std::min(8, step * 2);
            continue;
        }
        ++qp;
    }
    // Too large even at the coarsest: an intra picture keeps what it has, a predicted one
    // repeats the previous picture below.
    if (type == PictureType::kIntra && !coarsest.empty()) {
        // Coded again: a later attempt has overwritten the reconstruction.
        if (coarsest_qp != 63)
            coarsest = EncodeWithQp(source, type, picture_distance, coarsest_qp, false);
        return Finish(std::move(coarsest), coarsest_qp);
    }
    if (type != PictureType::kIntra) {
        std::vector<uint8_t> unit = EncodeWithQp(source, type, picture_distance, qp_, true);
        if (!unit.empty()) return Finish(std::move(unit), qp_);
    }
    throw std::runtime_error("picture cannot be coded without a start-code emulation");
}

void PictureCoder::SetQp(int qp) {
    if (qp < 0 || qp > 63) throw std::invalid_argument("qp out of range");
    qp_ = qp;
}

RowWorkers& PictureCoder::Workers() {
    const int helpers = std::min(threads_, mb_height_) - 1;
    if (!workers_ || workers_->Helpers() != helpers)
        workers_ = std::make_shared<RowWorkers>(helpers);
    return *workers_;
}

std::vector<uint8_t> PictureCoder::Finish(std::vector<uint8_t> unit, int qp) {
    // EncodeWithQp has run the loop filter behind the rows it coded.
    const bool b_picture = coding_type_ == PictureType::kBidirectional;
    last_qp_ = qp;
    last_was_b_ = b_picture;
    if (b_picture) return unit;  // not a reference
    std::swap(forward_reference_, reference_);
    if (reference_.use_count() > 1) {
        // The older picture is still read by twins coding B pictures beside this one: decode
        // into another.
        std::swap(reference_, retired_reference_);
        if (!reference_ || reference_.use_count() > 1) reference_ = std::make_shared<Frame>();
    }
    std::swap(*reference_, current_);
    if (current_.Width() != mb_width_ * 16 || current_.Height() != mb_height_ * 16)
        current_.Resize(mb_width_ * 16, mb_height_ * 16);
    std::swap(reduced_forward_, reduced_reference_);
    ReducePlane(reference_->luma, reduced_reference_);
    have_forward_reference_ = have_reference_;
    have_reference_ = true;
    forward_distance_ = reference_distance_;
    reference_distance_ = coding_distance_;
    co_gap_ = forward_gap_;
    co_motion_ = motion_;
    return unit;
}

std::vector<uint8_t> PictureCoder::EncodeWithQp(const Frame& source, PictureType type,
                                                int picture_distance, int qp, bool skip_all) {
    BitWriter header;
    if (type == PictureType::kBidirectional)
        WriteBidirectionalPictureHeader(header, picture_distance, qp);
    else
        WritePictureHeader(header, type, picture_distance, qp);
    BitWriter slice;
    slice.PutStartCode(kFirstSliceStartCode);
    // Fixed picture qp: no slice qp. Inter pictures carry slice_weighting_flag = 0.
    if (type != PictureType::kIntra) slice.PutBit(false);

    skipped_ = 0;
    modes_above_.assign(static_cast<size_t>(mb_width_) * 2, -1);
    motion_.assign(static_cast<size_t>(mb_width_) * mb_height_, MotionInfo{});
    if (type == PictureType::kBidirectional)
        backward_motion_.assign(static_cast<size_t>(mb_width_) * mb_height_, MotionInfo{});
    // Each row of macroblocks is coded into its own bits, joined in order below, so rows can
    // be coded in parallel with the same result.
    // One cache line or more per row: rows coded side by side must not share one.
    struct alignas(64) Row {
        BitWriter bits;
        int skipped = 0;
        // Macroblocks of the row done. The row below sleeps for more than it needs: waking
        // it costs a system call, so it is done only once that much is done.
        ProgressCount progress;
    };
    std::unique_ptr<Row[]> rows(new Row[static_cast<size_t>(mb_height_)]);
    const bool parallel = std::min(threads_, mb_height_) > 1;
    const auto code_row = [&](int mb_y) {
        int modes_left[2] = {-1, -1};
        Row& row = rows[mb_y];
        for (int mb_x = 0; mb_x < mb_width_; ++mb_x) {
            // The macroblocks above, above-left and above-right must be done.
            if (parallel && mb_y > 0) {
                ProgressCount& above = rows[mb_y - 1].progress;
                const int needed = std::min(mb_x + 2, mb_width_);
                // A macroblock takes microseconds: poll for it first. Past that the row
                // above is slow (its thread lost its processor, mostly); wait asleep until it
                // is well ahead again, a row's share per thread: the rows then keep that lead
                // from row to row, and each thread has the most room before it waits again.
                if (above.Load() < needed && !above.PollAtLeast(needed)) {
                    const int lead = std::max(2, mb_width_ / std::min(threads_, mb_height_));
                    above.SleepUntil(std::min(needed + lead, mb_width_));
                }
            }
            row.skipped +=
                CodeMacroblock(row.bits, source, type, qp, skip_all, mb_x, mb_y, modes_left);
            if (parallel) row.progress.Store(mb_x + 1);
        }
    };
    // The loop filter runs behind the coding, a row at a time in order: row r once row r + 1
    // is coded (whose intra prediction reads row r unfiltered) and row r - 1 is filtered.
    // Rows still being coded lie below r + 1 and read only the row above them.
    ProgressCount filtered;  // rows filtered
    const auto filter_behind = [&](int coded_row) {
        if (!loop_filter_) return;
        const int last = coded_row == mb_height_ - 1 ? coded_row : coded_row - 1;
        for (int r = std::max(0, coded_row - 1); r <= last; ++r) {
            filtered.WaitAtLeast(r);
            // B pictures' backward vectors count in an edge's strength too.
            DeblockRows(current_, motion_, qp, alpha_offset_, beta_offset_, r, r + 1,
                        type == PictureType::kBidirectional ? &backward_motion_ : nullptr);
            filtered.Store(r + 1);
        }
    };
    if (!parallel) {
        for (int mb_y = 0; mb_y < mb_height_; ++mb_y) {
            code_row(mb_y);
            filter_behind(mb_y);
        }
    } else {
        // Rows are taken in order, so the row a worker waits for is always being coded.
        std::atomic<int> next_row{0};
        std::exception_ptr failure;
        std::mutex failure_lock;
        const std::function<void()> work = [&] {
            for (int mb_y = next_row++; mb_y < mb_height_; mb_y = next_row++) {
                try {
                    code_row(mb_y);
                } catch (...) {
                    // Let the rows below go on to the end; the error is thrown after.
                    const std::lock_guard<std::mutex> hold(failure_lock);
                    if (!failure) failure = std::current_exception();
                    rows[mb_y].progress.Store(mb_width_);
                }
                filter_behind(mb_y);
            }
        };
        RunRows(work);
        if (failure) std::rethrow_exception(failure);
    }
    for (int mb_y = 0; mb_y < mb_height_; ++mb_y) {
        slice.Append(rows[mb_y].bits);
        skipped_ += rows[mb_y].skipped;
    }
    slice.StuffToByte();

    std::vector<uint8_t> unit = header.Take();
    const std::vector<uint8_t> slice_bytes = slice.Take();
    // Check from each start-code value on: the slice's value byte is 00 and counts.
    if (ContainsStartCodePrefix(unit.data() + 3, unit.size() - 3) ||
        ContainsStartCodePrefix(slice_bytes.data() + 3, slice_bytes.size() - 3))
        return {};
    unit.insert(unit.end(), slice_bytes.begin(), slice_bytes.end());
    return unit;
}

double PictureCoder::RdoLambda(int qp) {
    const double step = DequantMultiplier(qp) / static_cast<double>(1 << DequantShift(qp)) / 2;
    return kRdoLambdaScale * step * step;
}

void PictureCoder::OfferIntraTrial(MacroblockTrials& trials, const Frame& source, int mb_x,
                                   int mb_y, int qp, PictureType type, int tag) {
    const IntraMacroblock intra = CodeIntraMacroblock(source, mb_x, mb_y, qp, nullptr);
    BitWriter bits;
    WriteIntraMacroblock(bits, intra, type);
    trials.Offer(bits, tag);
}

int PictureCoder::CodeMacroblockByCost(BitWriter& out, const Frame& source, int qp, int mb_x,
                                       int mb_y) {
    MotionInfo& record = motion_[static_cast<size_t>(mb_y) * mb_width_ + mb_x];
    const MotionInfo a = Neighbour(mb_x - 1, mb_y), b = Neighbour(mb_x, mb_y - 1),
                     c = Neighbour(mb_x + 1, mb_y - 1), d = Neighbour(mb_x - 1, mb_y - 1);
    const MotionInfo skipped = PredictMotion(a, b, c, d, true, forward_gap_);
    const MotionInfo predicted = PredictMotion(a, b, c, d, false, forward_gap_);
    MacroblockTrials trials(current_, source, mb_x, mb_y, RdoLambda(qp));
    enum { kSkipped, kMoved, kIntra };
    // Skipped, unless decoders would go wrong with its vector.
    if (!Misdecoded(*reference_, mb_x, mb_y, skipped)) {
        StorePrediction(mb_x, mb_y, MotionCompensate(mb_x, mb_y, skipped));
        BitWriter bits;
        bits.PutUe(0);
        trials.Offer(bits, kSkipped);
    }
    // Moved by a searched vector, with its difference coded.
    const MotionInfo motion = SearchMotion(source, mb_x, mb_y, predicted, skipped);
    const InterMacroblock inter =
        CodeInterMacroblock(source, mb_x, mb_y, qp, MotionCompensate(mb_x, mb_y, motion));
    const bool moved_as_skipped = inter.cbp == 0 && motion.x == skipped.x && motion.y == skipped.y;
    {
        BitWriter bits;
        if (moved_as_skipped)
            bits.PutUe(0);
        else
            WriteInterMacroblock(bits, inter, motion.x - predicted.x, motion.y - predicted.y);
        trials.Offer(bits, kMoved);
    }
    OfferIntraTrial(trials, source, mb_x, mb_y, qp, PictureType::kPredicted, kIntra);
    const int kept = trials.Keep(out);
    record = kept == kSkipped ? skipped : kept == kMoved ? motion : MotionInfo{0, 0, kIntraRef};
    return kept == kSkipped || (kept == kMoved && moved_as_skipped) ? 1 : 0;
}

int PictureCoder::CodeMacroblock(BitWriter& out, const Frame& source, PictureType type, int qp,
                                 bool skip_all, int mb_x, int mb_y, int* modes_left) {
    if (type == PictureType::kBidirectional)
        return CodeBidirectionalMacroblock(out, source, qp, skip_all, mb_x, mb_y);
    MotionInfo& record = motion_[static_cast<size_t>(mb_y) * mb_width_ + mb_x];
    if (type == PictureType::kPredicted && rdo_ && !skip_all)
        return CodeMacroblockByCost(out, source, qp, mb_x, mb_y);
    if (type == PictureType::kPredicted) {
        const MotionInfo a = Neighbour(mb_x - 1, mb_y), b = Neighbour(mb_x, mb_y - 1),
                         c = Neighbour(mb_x + 1, mb_y - 1), d = Neighbour(mb_x - 1, mb_y - 1);
        const MotionInfo skipped = PredictMotion(a, b, c, d, true, forward_gap_);
        const MotionPrediction skip_prediction = MotionCompensate(mb_x, mb_y, skipped);
        const bool skip_usable = !Misdecoded(*reference_, mb_x, mb_y, skipped);
        // Even a picture that must skip everything codes the rare vector decoders get wrong.
        if (skip_usable && (skip_all || CanSkip(source, mb_x, mb_y, qp, skip_prediction))) {
            StorePrediction(mb_x, mb_y, skip_prediction);
            out.PutUe(0);  // mb_type: skipped
            record = skipped;
            return 1;
        }
        const MotionInfo predicted = PredictMotion(a, b, c, d, false, forward_gap_);
        const MotionInfo motion = SearchMotion(source, mb_x, mb_y, predicted, skipped);
        const MotionPrediction prediction = MotionCompensate(mb_x, mb_y, motion);
        const InterJudgement judgement = JudgeInter(source, mb_x, mb_y, prediction);
        if (judgement != InterJudgement::kIntra) {
            // Skipping, which the quick test above turned down, is still weighed against the
            // searched vector by squared error and bits: the test is rough, and one more
            // trial costs little beside the search.
            MacroblockTrials trials(current_, source, mb_x, mb_y, RdoLambda(qp));
            constexpr int kSkipped = 0, kMoved = 1, kIntra = 2;
            if (skip_usable) {
                StorePrediction(mb_x, mb_y, skip_prediction);
                BitWriter bits;
                bits.PutUe(0);
                trials.Offer(bits, kSkipped);
            }
            const InterMacroblock mb = CodeInterMacroblock(source, mb_x, mb_y, qp, prediction);
            const bool moved_as_skipped =
                mb.cbp == 0 && motion.x == skipped.x && motion.y == skipped.y;
            BitWriter bits;
            if (moved_as_skipped)
                bits.PutUe(0);  // nothing left to code: the same as skipping
            else
                WriteInterMacroblock(bits, mb, motion.x - predicted.x, motion.y - predicted.y);
            trials.Offer(bits, kMoved);
            if (judgement == InterJudgement::kBoth)
                OfferIntraTrial(trials, source, mb_x, mb_y, qp, PictureType::kPredicted, kIntra);
            const int kept = trials.Keep(out);
            record = kept == kSkipped ? skipped
                     : kept == kMoved ? motion
                                      : MotionInfo{0, 0, kIntraRef};
            return kept == kSkipped || (kept == kMoved && moved_as_skipped) ? 1 : 0;
        }
    }
    record = MotionInfo{0, 0, kIntraRef};
    const IntraMacroblock mb = CodeIntraMacroblock(
        source, mb_x, mb_y, qp, type == PictureType::kIntra ? modes_left : nullptr);
    if (type == PictureType::kPredicted) {
        WriteIntraMacroblock(out, mb, type);
        return 0;
    }
    // Intra pictures: modes are written against the neighbours' modes.
    const int cbp_code = IntraCbpCode(mb.cbp);
    WriteLumaModes(out, mb, mb_x, type, modes_left);
    WriteIntraMacroblockTail(out, mb, cbp_code, type);
    return 0;
}

void PictureCoder::WritePictureHeader(BitWriter& out, PictureType type, int picture_distance,
                                      int qp) {
    const bool intra = type == PictureType::kIntra;
    out.PutStartCode(intra ? kIntraPictureStartCode : kPredictedPictureStartCode);
    out.PutBits(0xFFFF, 16);  // bbv_delay: variable bit rate
    if (intra) {
        out.PutBit(false);  // time_code_flag
        out.PutBit(true);   // marker_bit
    } else {
        out.PutBits(1, 2);  // picture_coding_type: P
    }
    out.PutBits(static_cast<uint32_t>(picture_distance) & 0xFF, 8);
    out.PutBit(progressive_);  // progressive_frame
    // Interlaced: picture_structure 1 (a frame picture, all FFmpeg decodes), top_field_first 1.
    if (!progressive_) out.PutBit(true);
    out.PutBit(!progressive_);
    out.PutBit(false);  // repeat_first_field
    out.PutBit(true);   // fixed_picture_qp
    out.PutBits(static_cast<uint32_t>(qp), 6);
    if (!intra) {
        out.PutBit(true);   // picture_reference_flag: only the previous picture is a reference
        out.PutBits(0, 4);  // no_forward_reference_flag and reserved bits
        // skip_mode_flag 0: every macroblock has an mb_type; long skip runs would be long zero
        // runs, which can emulate a start code.
        out.PutBit(false);
    } else {
        out.PutBits(0, 4);  // reserved bits
    }
    out.PutBit(!loop_filter_);  // loop_filter_disable
    if (loop_filter_) {
        const bool offsets = alpha_offset_ != 0 || beta_offset_ != 0;
        out.PutBit(offsets);  // loop_filter_parameter_flag
        if (offsets) {
            out.PutSe(alpha_offset_);
            out.PutSe(beta_offset_);
        }
    }
    out.StuffToByte();
}

PictureCoder::IntraMacroblock PictureCoder::CodeIntraMacroblock(const Frame& source, int mb_x,
                                                                int mb_y, int qp,
                                                                const int* modes_left) {
    IntraMacroblock mb;
    const Neighbours available = NeighboursOf(mb_x, mb_y, mb_width_);
    uint8_t prediction[64];
    const double lambda = RdoLambda(qp);
    for (int block = 0; block < 4; ++block) {
        const int x0 = mb_x * 16 + (block & 1) * 8;
        const int y0 = mb_y * 16 + (block >> 1) * 8;
        LumaMode chosen = LumaMode::kLowPass;
        if (modes_left != nullptr) {
            // Each mode coded, and the least squared error plus weighted bits kept: the
            // prediction error alone misjudges what the residual costs once transformed (the
            // few modes with the least absolute error, coded, lost 0.13 dB on the camera clip).
            const int from_left = (block & 1) ? mb.luma_modes[block - 1] : modes_left[block >> 1];
            const int from_above =
                (block & 2) ? mb.luma_modes[block - 2] : modes_above_[mb_x * 2 + (block & 1)];
            int predicted = std::min(from_left, from_above);
            if (predicted < 0) predicted = static_cast<int>(LumaMode::kLowPass);
            double best = -1;
            CodedSamples kept;
            for (int m = 0; m <= 4; ++m) {
                const LumaMode mode = static_cast<LumaMode>(m);
                if (!LumaModeAllowed(block, available, mode)) continue;
                PredictLumaBlock(current_.luma, mb_x, mb_y, block, available, mode, prediction);
                const Block levels = CodeBlock(source.luma, current_.luma, x0, y0, prediction, qp,
                                               IntraLumaTables(), kIntraTrim);
                const double cost =
                    CodedBlockCost(source.luma, current_.luma, x0, y0, levels, IntraLumaTables(),
                                   lambda, m == predicted ? 1 : 3);
                if (best < 0 || cost < best) {
                    best = cost;
                    chosen = mode;
                    kept.Save(current_.luma, x0, y0, levels);
                }
            }
            // The kept mode's coding, not coded again.
            mb.luma[block] = kept.Restore(current_.luma, x0, y0);
        } else {
            PredictLumaBlock(current_.luma, mb_x, mb_y, block, available, chosen, prediction);
            mb.luma[block] = CodeBlock(source.luma, current_.luma, x0, y0, prediction, qp,
                                       IntraLumaTables(), kIntraTrim);
        }
        mb.luma_modes[block] = static_cast<int>(chosen);
        if (!IsZero(mb.luma[block])) mb.cbp |= 1 << block;
    }
    const int cqp = ChromaQp(qp);
    const Plane* sources[2] = {&source.cb, &source.cr};
    Plane* pictures[2] = {&current_.cb, &current_.cr};
    // One mode serves both chroma blocks: where the luma modes are chosen, the one with the
    // least squared error plus weighted bits, else the one with the least absolute error.
    ChromaMode modes[3];
    const int candidates = ChromaCandidates(available, modes);
    ChromaMode best = modes[0];
    double best_cost = -1;
    uint8_t predictions[2][64];
    CodedSamples trial[2], kept[2];
    bool coded_in_trials = false;
    for (int m = 0; m < candidates && candidates > 1; ++m) {
        double cost = 0;
        for (int c = 0; c < 2; ++c) {
            PredictChromaBlock(*pictures[c], mb_x, mb_y, available, modes[m], prediction);
            if (modes_left == nullptr) {
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        cost += std::abs(sources[c]->At(mb_x * 8 + x, mb_y * 8 + y) -
                                         prediction[y * 8 + x]);
                continue;
            }
            const Block levels = CodeBlock(*sources[c], *pictures[c], mb_x * 8, mb_y * 8,
                                           prediction, cqp, ChromaTables(), kIntraTrim);
            cost += CodedBlockCost(*sources[c], *pictures[c], mb_x * 8, mb_y * 8, levels,
                                   ChromaTables(), lambda,
                                   c == 0 ? UeLength(static_cast<int>(modes[m])) : 0);
            trial[c].Save(*pictures[c], mb_x * 8, mb_y * 8, levels);
        }
        if (best_cost < 0 || cost < best_cost) {
            best_cost = cost;
            best = modes[m];
            if (modes_left != nullptr) {
                kept[0] = trial[0];
                kept[1] = trial[1];
                coded_in_trials = true;
            }
        }
    }
    mb.chroma_mode = static_cast<int>(best);
    for (int c = 0; c < 2; ++c) {
        if (coded_in_trials) {
            // The kept mode's coding, not coded again.
            mb.chroma[c] = kept[c].Restore(*pictures[c], mb_x * 8, mb_y * 8);
        } else {
            PredictChromaBlock(*pictures[c], mb_x, mb_y, available, best, predictions[c]);
            mb.chroma[c] = CodeBlock(*sources[c], *pictures[c], mb_x * 8, mb_y * 8, predictions[c],
                                     cqp, ChromaTables(), kIntraTrim);
        }
        if (!IsZero(mb.chroma[c])) mb.cbp |= 1 << (4 + c);
    }
    return mb;
}

void PictureCoder::WriteIntraMacroblock(BitWriter& out, const IntraMacroblock& mb,
                                        PictureType type) {
    const int cbp_code = IntraCbpCode(mb.cbp);
    // In predicted pictures (one mb_type per macroblock, 0 = skipped) mb_type 5 + n is an
    // intra macroblock with cbp code n.
    if (type == PictureType::kPredicted) out.PutUe(static_cast<uint32_t>(5 + cbp_code));
    // In B pictures, after the 24 inter types.
    if (type == PictureType::kBidirectional) out.PutUe(static_cast<uint32_t>(24 + cbp_code));
    WriteLumaModes(out, mb, -1, type, nullptr);
    WriteIntraMacroblockTail(out, mb, cbp_code, type);
}

void PictureCoder::WriteLumaModes(BitWriter& out, const IntraMacroblock& mb, int mb_x,
                                  PictureType type, int* modes_left) {
    if (type != PictureType::kIntra) {
        // Only the low-pass mode is used here, and it is always the predicted one: whatever
        // a neighbour holds (low-pass, or nothing for inter and skipped macroblocks), the
        // prediction falls back to low-pass.
        out.PutBits(0xF, 4);
        return;
    }
    for (int block = 0; block < 4; ++block) {
        const int from_left = (block & 1) ? mb.luma_modes[block - 1] : modes_left[block >> 1];
        const int from_above =
            (block & 2) ? mb.luma_modes[block - 2] : modes_above_[mb_x * 2 + (block & 1)];
        int predicted = std::min(from_left, from_above);
        if (predicted < 0) predicted = static_cast<int>(LumaMode::kLowPass);
        const int mode = mb.luma_modes[block];
        if (mode == predicted) {
            out.PutBit(true);
        } else {
            out.PutBit(false);
            out.PutBits(static_cast<uint32_t>(mode < predicted ? mode : mode - 1), 2);
        }
    }
    modes_left[0] = mb.luma_modes[1];
    modes_left[1] = mb.luma_modes[3];
    modes_above_[mb_x * 2] = mb.luma_modes[2];
    modes_above_[mb_x * 2 + 1] = mb.luma_modes[3];
}

void PictureCoder::WriteIntraMacroblockTail(BitWriter& out, const IntraMacroblock& mb, int cbp_code,
                                            PictureType type) {
    out.PutUe(static_cast<uint32_t>(mb.chroma_mode));
    if (type == PictureType::kIntra) out.PutUe(static_cast<uint32_t>(cbp_code));
    for (int block = 0; block < 4; ++block)
        if (mb.cbp & (1 << block)) WriteBlockCoefficients(out, mb.luma[block], IntraLumaTables());
    for (int c = 0; c < 2; ++c)
        if (mb.cbp & (1 << (4 + c))) WriteBlockCoefficients(out, mb.chroma[c], ChromaTables());
}

MotionInfo PictureCoder::Neighbour(int mb_x, int mb_y) const {
    if (mb_x < 0 || mb_y < 0 || mb_x >= mb_width_) return MotionInfo{0, 0, kNoNeighbour};
    return motion_[static_cast<size_t>(mb_y) * mb_width_ + mb_x];
}

namespace {

// Reference sample with the picture's edge repeated outside it, as in the decoder.
int Sample(const Plane& plane, int x, int y) {
    return plane.At(std::clamp(x, 0, plane.width - 1), std::clamp(y, 0, plane.height - 1));
}

}  // namespace

void PredictLumaBlock16(const Plane& ref, int x0, int y0, int mv_x, int mv_y, uint8_t* out) {
    // Whole and half samples only: the vectors searched here are multiples of two quarters.
    const int ix = x0 + (mv_x >> 2), iy = y0 + (mv_y >> 2);
    const bool half_x = (mv_x & 3) != 0, half_y = (mv_y & 3) != 0;
    // The samples the filters reach, one before to two after the block each way, with the
    // picture's edge repeated; row by row from (ix - 1, iy - 1).
    constexpr int kSide = 19;
    const bool inside = ix >= 1 && iy >= 1 && ix + 18 <= ref.width && iy + 18 <= ref.height;
    if (inside) {
        InterpolateLuma16(ref.Row(iy - 1) + ix - 1, ref.width, half_x, half_y, out);
        return;
    }
    uint8_t window[kSide * kSide];
    for (int y = 0; y < kSide; ++y) {
        const int sy = std::clamp(iy - 1 + y, 0, ref.height - 1);
        for (int x = 0; x < kSide; ++x)
            window[y * kSide + x] = ref.Row(sy)[std::clamp(ix - 1 + x, 0, ref.width - 1)];
    }
    InterpolateLuma16(window, kSide, half_x, half_y, out);
}

PictureCoder::MotionPrediction PictureCoder::PredictFrom(const Frame& ref, int mb_x, int mb_y,
                                                         const MotionInfo& motion) {
    MotionPrediction p;
    // Searched vectors are whole or half samples, but predicted ones (skipped macroblocks)
    // rescaled over a distance of several pictures, and B pictures' vectors, can be quarter
    // samples.
    PredictLumaBlockQuarter16(ref.luma, mb_x * 16, mb_y * 16, motion.x, motion.y, p.luma);
    // Chroma vectors are the luma ones in eighths of a chroma sample: bilinear weights.
    const int fx = motion.x & 7, fy = motion.y & 7;
    const int cx = mb_x * 8 + (motion.x >> 3), cy = mb_y * 8 + (motion.y >> 3);
    const Plane* chroma[2] = {&ref.cb, &ref.cr};
    const bool inside = cx >= 0 && cy >= 0 && cx + 9 <= ref.cb.width && cy + 9 <= ref.cb.height;
    for (int c = 0; c < 2; ++c) {
        if (inside) {
            BilinearChroma8(chroma[c]->Row(cy) + cx, chroma[c]->width, fx, fy, p.chroma[c]);
            continue;
        }
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const Plane& r = *chroma[c];
                const int v = (8 - fx) * (8 - fy) * Sample(r, cx + x, cy + y) +
                              fx * (8 - fy) * Sample(r, cx + x + 1, cy + y) +
                              (8 - fx) * fy * Sample(r, cx + x, cy + y + 1) +
                              fx * fy * Sample(r, cx + x + 1, cy + y + 1);
                p.chroma[c][y * 8 + x] = static_cast<uint8_t>((v + 32) >> 6);
            }
    }
    return p;
}

int PictureCoder::LumaDifference(const Frame& source, int mb_x, int mb_y, int dx, int dy) const {
    return Sad16x16(source.luma.Row(mb_y * 16) + mb_x * 16, source.luma.width,
                    reference_->luma.Row(mb_y * 16 + dy) + mb_x * 16 + dx, reference_->luma.width);
}

MotionInfo PictureCoder::SearchMotion(const Frame& source, int mb_x, int mb_y,
                                      const MotionInfo& predicted,
                                      const MotionInfo& skipped) const {
    const int range = picture_search_range_;  // samples each way
    const int x0 = mb_x * 16, y0 = mb_y * 16;
    const auto inside = [&](int dx, int dy) {
        return x0 + dx >= 0 && y0 + dy >= 0 && x0 + dx + 16 <= reference_->luma.width &&
               y0 + dy + 16 <= reference_->luma.height && std::abs(dx) <= range &&
               std::abs(dy) <= range;
    };
    // Sum of absolute differences plus a rough price of the vector's difference code.
    const auto cost = [&](int dx, int dy) {
        return LumaDifference(source, mb_x, mb_y, dx, dy) +
               4 * (SeLength(dx * 4 - predicted.x) + SeLength(dy * 4 - predicted.y));
    };
    int best_x = 0, best_y = 0;
    int best = cost(0, 0);
    const auto consider = [&](int dx, int dy) {
        dx &= ~1;  // even whole samples only
        dy &= ~1;
        if (!inside(dx, dy)) return;
        const int c = cost(dx, dy);
        if (c < best) {
            best = c;
            best_x = dx;
            best_y = dy;
        }
    };
    consider(predicted.x / 4, predicted.y / 4);
    consider(skipped.x / 4, skipped.y / 4);
    // Each neighbour's own vector, and the vector of the reference picture here scaled to
    // this picture's distance: an object keeps its motion across macroblocks and pictures,
    // and the median alone loses it at the object's edges.
    for (const MotionInfo& n :
         {Neighbour(mb_x - 1, mb_y), Neighbour(mb_x, mb_y - 1), Neighbour(mb_x + 1, mb_y - 1)})
        if (n.ref >= 0) consider(n.x / 4, n.y / 4);
    const size_t index = static_cast<size_t>(mb_y) * mb_width_ + mb_x;
    if (index < co_motion_.size() && co_motion_[index].ref >= 0 && co_gap_ > 0) {
        const MotionInfo& co = co_motion_[index];
        consider(co.x * forward_gap_ / co_gap_ / 4, co.y * forward_gap_ / co_gap_ / 4);
    }
    // Still poorly predicted: search the whole window on the reduced pictures.
    if (best > kCoarseSearchCost) {
        const MotionInfo coarse =
            CoarseSearch(reduced_source_, reduced_reference_, mb_x, mb_y, range / 4);
        consider(coarse.x, coarse.y);
    }
    // Coarse to fine; the first step is about half the range, so a wide range is reached.
    int first_step = 2;
    while (first_step * 2 <= range / 2) first_step *= 2;
    for (int step = first_step; step >= 2; step /= 2)
        WalkSquares(best_x, best_y, step, 8, consider);
    if (!sub_sample_) return MotionInfo{best_x * 4, best_y * 4, 0};
    // Refine to odd whole samples, then half and quarter samples, on the interpolated
    // prediction.
    int mv_x = best_x * 4, mv_y = best_y * 4;
    uint8_t predicted_luma[256];
    const auto fine_cost = [&](int vx, int vy) {
        if (PredictLumaBlockQuarter16(reference_->luma, x0, y0, vx, vy, predicted_luma))
            return std::numeric_limits<int>::max();  // decoders would differ
        const int total = Sad16x16(source.luma.Row(y0) + x0, source.luma.width, predicted_luma, 16);
        return total + 4 * (SeLength(vx - predicted.x) + SeLength(vy - predicted.y));
    };
    int fine_best = fine_cost(mv_x, mv_y);
    const auto fine_consider = [&](int vx, int vy) {
        if (std::abs(vx) > range * 4 || std::abs(vy) > range * 4) return;
        const int c = fine_cost(vx, vy);
        if (c < fine_best) {
            fine_best = c;
            mv_x = vx;
            mv_y = vy;
        }
    };
    for (int step : {4, 2}) WalkSquares(mv_x, mv_y, step, 1, fine_consider);
    // Then a quarter sample across and down, where decoders agree on the filtered samples.
    const int half_x = mv_x, half_y = mv_y;
    for (const auto& d : {std::array<int, 2>{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
        fine_consider(half_x + d[0], half_y + d[1]);
    return MotionInfo{mv_x, mv_y, 0};
}

PictureCoder::InterJudgement PictureCoder::JudgeInter(const Frame& source, int mb_x, int mb_y,
                                                      const MotionPrediction& prediction) const {
    // The macroblock's deviation from its mean stands for what coding it on its own costs.
    // Where the difference from the prediction is not clearly the smaller, both are coded
    // and weighed: on content that is new in every picture (noise) the rough test kept the
    // prediction, whose residual carries the reference's noise too.
    const uint8_t* s = source.luma.Row(mb_y * 16) + mb_x * 16;
    const int stride = source.luma.width;
    const int difference = Sad16x16(s, stride, prediction.luma, 16);
    const int mean = (Sum16x16(s, stride) + 128) / 256;
    const int deviation = Deviation16x16(s, stride, mean);
    if (difference >= deviation + 512) return InterJudgement::kIntra;
    if (4 * difference < deviation) return InterJudgement::kInter;
    return InterJudgement::kBoth;
}

PictureCoder::InterMacroblock PictureCoder::CodeInterMacroblock(
    const Frame& source, int mb_x, int mb_y, int qp, const MotionPrediction& prediction) {
    InterMacroblock mb;
    uint8_t block_prediction[64];
    for (int block = 0; block < 4; ++block) {
        const int bx = (block & 1) * 8, by = (block >> 1) * 8;
        for (int y = 0; y < 8; ++y)
            std::memcpy(block_prediction + y * 8, prediction.luma + (by + y) * 16 + bx, 8);
        mb.luma[block] = CodeBlock(source.luma, current_.luma, mb_x * 16 + bx, mb_y * 16 + by,
                                   block_prediction, qp, InterLumaTables(), kInterTrim);
        if (!IsZero(mb.luma[block])) mb.cbp |= 1 << block;
    }
    const Plane* sources[2] = {&source.cb, &source.cr};
    Plane* pictures[2] = {&current_.cb, &current_.cr};
    for (int c = 0; c < 2; ++c) {
        mb.chroma[c] = CodeBlock(*sources[c], *pictures[c], mb_x * 8, mb_y * 8,
                                 prediction.chroma[c], ChromaQp(qp), ChromaTables(), kInterTrim);
        if (!IsZero(mb.chroma[c])) mb.cbp |= 1 << (4 + c);
    }
    return mb;
}

void PictureCoder::WriteInterMacroblock(BitWriter& out, const InterMacroblock& mb, int mvd_x,
                                        int mvd_y) {
    out.PutUe(1);  // mb_type: one 16x16 partition (the only reference needs no index)
    out.PutSe(mvd_x);
    out.PutSe(mvd_y);
    WriteInterResidual(out, mb);
}

void PictureCoder::WriteInterResidual(BitWriter& out, const InterMacroblock& mb) {
    out.PutUe(static_cast<uint32_t>(InterCbpCode(mb.cbp)));
    for (int block = 0; block < 4; ++block)
        if (mb.cbp & (1 << block)) WriteBlockCoefficients(out, mb.luma[block], InterLumaTables());
    for (int c = 0; c < 2; ++c)
        if (mb.cbp & (1 << (4 + c))) WriteBlockCoefficients(out, mb.chroma[c], ChromaTables());
}

bool PictureCoder::CanSkip(const Frame& source, int mb_x, int mb_y, int qp,
                           const MotionPrediction& prediction) const {
    // Skip when the prediction is clearly better than what coding would leave: squared
    // error per sample below a quarter of step^2 / 12 (luma step in sample units is about
    // half the coefficient step) and no sample far off. A skipped macroblock's error stays,
    // in this picture and in the pictures predicted from it: against the whole step^2 / 12
    // the quarter gave 0.1-0.2 dB more at the same rate, a smaller share nothing more.
    const double step = DequantMultiplier(qp) / static_cast<double>(1 << DequantShift(qp)) / 2;
    const double limit = std::max(1.0, step * step / 48.0);
    long long squared = 0;
    int worst = 0;
    DifferenceStats(source.luma.Row(mb_y * 16) + mb_x * 16, source.luma.width, prediction.luma, 16,
                    16, 16, &squared, &worst);
    const Plane* chroma[2] = {&source.cb, &source.cr};
    for (int c = 0; c < 2; ++c)
        DifferenceStats(chroma[c]->Row(mb_y * 8) + mb_x * 8, chroma[c]->width, prediction.chroma[c],
                        8, 8, 8, &squared, &worst);
    return static_cast<double>(squared) / 384.0 <= limit && worst <= std::max(4.0, 3 * step);
}

void PictureCoder::StorePrediction(int mb_x, int mb_y, const MotionPrediction& prediction) {
    for (int y = 0; y < 16; ++y)
        std::memcpy(current_.luma.Row(mb_y * 16 + y) + mb_x * 16, prediction.luma + y * 16, 16);
    for (int y = 0; y < 8; ++y) {
        std::memcpy(current_.cb.Row(mb_y * 8 + y) + mb_x * 8, prediction.chroma[0] + y * 8, 8);
        std::memcpy(current_.cr.Row(mb_y * 8 + y) + mb_x * 8, prediction.chroma[1] + y * 8, 8);
    }
}

}  // namespace harrowgate
