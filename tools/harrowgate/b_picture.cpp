// B pictures: each macroblock predicts from the forward reference (the older of the two
// latest references), the backward one (the latest), or both averaged. Direct and skipped
// macroblocks take their vectors from the backward reference's co-located macroblock, so
// they cost no vector bits; the rest search a small window around predicted vectors.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "tools/harrowgate/block_coder.h"
#include "tools/harrowgate/macroblock_trials.h"
#include "tools/harrowgate/picture_coder.h"
#include "tools/harrowgate/row_workers.h"
#include "tools/harrowgate/sample_kernels.h"
#include "tools/harrowgate/vlc_tables.h"

namespace harrowgate {
namespace {

constexpr uint8_t kBidirectionalPictureStartCode = 0xB6;

// mb_type codes of B pictures (without skip runs).
constexpr int kTypeSkip = 0;
constexpr int kTypeDirect = 1;
constexpr int kTypeForward = 2;
constexpr int kTypeBackward = 3;
constexpr int kTypeSymmetric = 4;

// The decoder's mean of two predictions, rounded up, into the first.
void AverageInto(uint8_t* into, const uint8_t* other, int count) {
    for (int i = 0; i < count; ++i) into[i] = static_cast<uint8_t>((into[i] + other[i] + 1) >> 1);
}

int LumaSad(const Frame& source, int mb_x, int mb_y, const uint8_t* prediction) {
    return Sad16x16(source.luma.Row(mb_y * 16) + mb_x * 16, source.luma.width, prediction, 16);
}

// The reference's samples -2..18 each way around a 16x16 block at (ix, iy), the picture's
// edge repeated.
constexpr int kSide = 21;
void ReadWindow(const Plane& ref, int ix, int iy, uint8_t* window) {
    const bool inside = ix >= 2 && iy >= 2 && ix + 19 <= ref.width && iy + 19 <= ref.height;
    for (int y = 0; y < kSide; ++y) {
        if (inside) {
            std::memcpy(window + y * kSide, ref.Row(iy - 2 + y) + ix - 2, kSide);
            continue;
        }
        const int sy = std::clamp(iy - 2 + y, 0, ref.height - 1);
        for (int x = 0; x < kSide; ++x)
            window[y * kSide + x] = ref.Row(sy)[std::clamp(ix - 2 + x, 0, ref.width - 1)];
    }
}

}  // namespace

bool PredictLumaBlockQuarter16(const Plane& ref, int x0, int y0, int mv_x, int mv_y, uint8_t* out) {
    const int fx = mv_x & 3, fy = mv_y & 3;
    if ((fx & 1) == 0 && (fy & 1) == 0) {
        PredictLumaBlock16(ref, x0, y0, mv_x, mv_y, out);
        return false;
    }
    const int ix = x0 + (mv_x >> 2), iy = y0 + (mv_y >> 2);
    if (ix >= 2 && iy >= 2 && ix + 19 <= ref.width && iy + 19 <= ref.height)
        return QuarterLuma16(ref.Row(iy - 2) + ix - 2, ref.width, fx, fy, out);
    uint8_t window[kSide * kSide];
    ReadWindow(ref, ix, iy, window);
    return QuarterLuma16(window, kSide, fx, fy, out);
}

bool DecoderOverflowsQuarterFilter(const Plane& ref, int x0, int y0, int mv_x, int mv_y) {
    const int fy = mv_y & 3;
    if ((mv_x & 3) != 0 || (fy & 1) == 0) return false;
    const int ix = x0 + (mv_x >> 2), iy = y0 + (mv_y >> 2);
    // The sum passes 32767 only where the sample weighted 96 is 230 or more
    // (96 * 229 + 42 * 255 + 64 < 32768): most blocks are ruled out by that alone.
    const int heavy = iy + (fy == 3 ? 1 : 0);
    uint8_t brightest = 0;
    for (int y = 0; y < 16; ++y) {
        const uint8_t* row = ref.Row(std::clamp(heavy + y, 0, ref.height - 1));
        for (int x = 0; x < 16; ++x)
            brightest = std::max(brightest, row[std::clamp(ix + x, 0, ref.width - 1)]);
    }
    if (brightest < 230) return false;
    uint8_t prediction[256];
    return PredictLumaBlockQuarter16(ref, x0, y0, mv_x, mv_y, prediction);
}

void PictureCoder::WriteBidirectionalPictureHeader(BitWriter& out, int picture_distance, int qp) {
    out.PutStartCode(kBidirectionalPictureStartCode);
    out.PutBits(0xFFFF, 16);  // bbv_delay: variable bit rate
    out.PutBits(2, 2);        // picture_coding_type: B
    out.PutBits(static_cast<uint32_t>(picture_distance) & 0xFF, 8);
    out.PutBit(progressive_);  // progressive_frame
    // Interlaced: picture_structure 1 (a frame picture, all FFmpeg decodes), top_field_first 1.
    // A B frame picture has no picture_reference_flag either way.
    if (!progressive_) out.PutBit(true);
    out.PutBit(!progressive_);
    out.PutBit(false);  // repeat_first_field
    out.PutBit(true);   // fixed_picture_qp
    out.PutBits(static_cast<uint32_t>(qp), 6);
    out.PutBits(0, 4);  // no_forward_reference_flag and reserved bits
    out.PutBit(false);  // skip_mode_flag: an mb_type per macroblock, as in P pictures
    out.PutBit(!loop_filter_);
    if (loop_filter_) {
        const bool offsets = alpha_offset_ != 0 || beta_offset_ != 0;
        out.PutBit(offsets);
        if (offsets) {
            out.PutSe(alpha_offset_);
            out.PutSe(beta_offset_);
        }
    }
    out.StuffToByte();
}

PictureCoder::MotionPrediction PictureCoder::BiPredict(int mb_x, int mb_y,
                                                       const MotionInfo& forward,
                                                       const MotionInfo& backward) const {
    const bool has_forward = forward.ref >= 0, has_backward = backward.ref >= 0;
    if (!has_backward) return PredictFrom(*forward_reference_, mb_x, mb_y, forward);
    if (!has_forward) return PredictFrom(*reference_, mb_x, mb_y, backward);
    MotionPrediction p = PredictFrom(*forward_reference_, mb_x, mb_y, forward);
    const MotionPrediction other = PredictFrom(*reference_, mb_x, mb_y, backward);
    AverageInto(p.luma, other.luma, 256);
    for (int c = 0; c < 2; ++c) AverageInto(p.chroma[c], other.chroma[c], 64);
    return p;
}

MotionInfo PictureCoder::SearchReference(const Frame& ref, const Plane& reduced_ref, int gap,
                                         const Frame& source, int mb_x, int mb_y,
                                         const MotionInfo& predicted, const MotionInfo* starts,
                                         int count, int* cost) const {
    const int limit = 4 * std::min(kLongestVector, search_range_ * std::max(1, gap / 2));
    uint8_t block[256];
    const auto price = [&](int vx, int vy) {
        PredictLumaBlock16(ref.luma, mb_x * 16, mb_y * 16, vx, vy, block);
        return LumaSad(source, mb_x, mb_y, block) +
               4 * (SeLength(vx - predicted.x) + SeLength(vy - predicted.y));
    };
    int best_x = 0, best_y = 0;
    int best = price(0, 0);
    const auto consider = [&](int vx, int vy) {
        // Whole and half samples only; the window is the search range.
        vx = std::clamp(vx & ~1, -limit, limit);
        vy = std::clamp(vy & ~1, -limit, limit);
        if (vx == best_x && vy == best_y) return false;
        const int c = price(vx, vy);
        if (c >= best) return false;
        best = c;
        best_x = vx;
        best_y = vy;
        return true;
    };
    for (int i = 0; i < count; ++i) consider(starts[i].x, starts[i].y);
    if (best > kCoarseSearchCost) {
        const MotionInfo coarse =
            CoarseSearch(reduced_source_, reduced_ref, mb_x, mb_y, limit / 16);
        consider(coarse.x * 4, coarse.y * 4);
    }
    // Two whole samples, one, then half a sample: a short walk from the best start.
    for (int step : {8, 4, 2}) WalkSquares(best_x, best_y, step, step == 2 ? 1 : 3, consider);
    *cost = best;
    return MotionInfo{best_x, best_y, 0};
}

int PictureCoder::SymmetricPrice(const Frame& source, int mb_x, int mb_y, const MotionInfo& forward,
                                 const MotionInfo& predicted) const {
    // Half samples both ways (the mirror rounded to them): the fast filters, close enough to
    // rank vectors; the choice is priced exactly after.
    const MotionInfo backward = SymmetricBackward(forward, forward_gap_, backward_gap_);
    uint8_t ahead[256], behind[256];
    PredictLumaBlock16(forward_reference_->luma, mb_x * 16, mb_y * 16, forward.x & ~1,
                       forward.y & ~1, ahead);
    PredictLumaBlock16(reference_->luma, mb_x * 16, mb_y * 16, (backward.x + 1) & ~1,
                       (backward.y + 1) & ~1, behind);
    AverageInto(ahead, behind, 256);
    return LumaSad(source, mb_x, mb_y, ahead) +
           4 * (SeLength(forward.x - predicted.x) + SeLength(forward.y - predicted.y));
}

int PictureCoder::CodeBidirectionalMacroblock(BitWriter& out, const Frame& source, int qp,
                                              bool skip_all, int mb_x, int mb_y) {
    const size_t index = static_cast<size_t>(mb_y) * mb_width_ + mb_x;
    const auto backward_neighbour = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= mb_width_) return MotionInfo{0, 0, kNoNeighbour};
        return backward_motion_[static_cast<size_t>(y) * mb_width_ + x];
    };
    const MotionInfo predicted_forward = PredictMotion(
        Neighbour(mb_x - 1, mb_y), Neighbour(mb_x, mb_y - 1), Neighbour(mb_x + 1, mb_y - 1),
        Neighbour(mb_x - 1, mb_y - 1), false, forward_gap_);
    const MotionInfo predicted_backward =
        PredictMotion(backward_neighbour(mb_x - 1, mb_y), backward_neighbour(mb_x, mb_y - 1),
                      backward_neighbour(mb_x + 1, mb_y - 1),
                      backward_neighbour(mb_x - 1, mb_y - 1), false, backward_gap_);
    // Direct vectors: the co-located one scaled to both references; under an intra
    // macroblock the predicted ones.
    MotionInfo direct_forward = predicted_forward, direct_backward = predicted_backward;
    const MotionInfo& co = co_motion_[index];
    if (co.ref >= 0)
        DirectVectors(co, co_gap_, forward_gap_, backward_gap_, &direct_forward, &direct_backward);
    MotionInfo& forward_record = motion_[index];
    MotionInfo& backward_record = backward_motion_[index];
    const MotionPrediction direct = BiPredict(mb_x, mb_y, direct_forward, direct_backward);
    // Vectors decoders get wrong rule out skipping and direct, even where all should skip.
    const bool direct_usable = !Misdecoded(*forward_reference_, mb_x, mb_y, direct_forward) &&
                               !Misdecoded(*reference_, mb_x, mb_y, direct_backward);
    // Chosen by cost, skipping is one of the trials.
    const bool by_cost = rdo_ && !skip_all;
    if (!by_cost && direct_usable && (skip_all || CanSkip(source, mb_x, mb_y, qp, direct))) {
        StorePrediction(mb_x, mb_y, direct);
        out.PutUe(kTypeSkip);
        forward_record = direct_forward;
        backward_record = direct_backward;
        return 1;
    }

    // The cheapest prediction by absolute error plus the rough price of its codes.
    struct Choice {
        int type;
        MotionInfo forward, backward;
        int cost;
    };
    const MotionInfo none{0, 0, kNoVector};
    const int direct_cost =
        direct_usable ? LumaSad(source, mb_x, mb_y, direct.luma) + 4 * UeLength(kTypeDirect)
                      : std::numeric_limits<int>::max();
    Choice best{kTypeDirect, direct_forward, direct_backward, direct_cost};
    // Starts: the predicted and direct vectors, none, and each neighbour's own (an object
    // keeps its motion across macroblocks; the median loses it at the object's edges).
    MotionInfo forward_starts[6] = {predicted_forward, direct_forward, MotionInfo{0, 0, 0}};
    MotionInfo backward_starts[6] = {predicted_backward, direct_backward, MotionInfo{0, 0, 0}};
    int forward_count = 3, backward_count = 3;
    const int neighbours[3][2] = {{-1, 0}, {0, -1}, {1, -1}};
    for (const auto& n : neighbours) {
        const MotionInfo f = Neighbour(mb_x + n[0], mb_y + n[1]);
        if (f.ref >= 0) forward_starts[forward_count++] = f;
        const MotionInfo b = backward_neighbour(mb_x + n[0], mb_y + n[1]);
        if (b.ref >= 0) backward_starts[backward_count++] = b;
    }
    int forward_cost = 0;
    const MotionInfo forward =
        SearchReference(*forward_reference_, reduced_forward_, forward_gap_, source, mb_x, mb_y,
                        predicted_forward, forward_starts, forward_count, &forward_cost);
    forward_cost += 4 * UeLength(kTypeForward);
    if (forward_cost < best.cost) best = Choice{kTypeForward, forward, none, forward_cost};
    int backward_cost = 0;
    const MotionInfo backward =
        SearchReference(*reference_, reduced_reference_, backward_gap_, source, mb_x, mb_y,
                        predicted_backward, backward_starts, backward_count, &backward_cost);
    backward_cost += 4 * UeLength(kTypeBackward);
    if (backward_cost < best.cost) best = Choice{kTypeBackward, none, backward, backward_cost};
    // Symmetric: one vector, mirrored onto the backward reference. The best forward vector
    // is where the search starts; a move or a mirror that follows the motion through both
    // references can do better together than either alone.
    MotionInfo symmetric_forward = forward;
    int symmetric_cost = SymmetricPrice(source, mb_x, mb_y, forward, predicted_forward);
    const int limit = 4 * picture_search_range_;
    const auto consider_symmetric = [&](int vx, int vy) {
        const MotionInfo v{std::clamp(vx, -limit, limit), std::clamp(vy, -limit, limit), 0};
        const int c = SymmetricPrice(source, mb_x, mb_y, v, predicted_forward);
        if (c < symmetric_cost) {
            symmetric_cost = c;
            symmetric_forward = v;
        }
    };
    for (const MotionInfo& start : {direct_forward, predicted_forward})
        consider_symmetric(start.x & ~1, start.y & ~1);
    for (int step : {4, 2})
        WalkSquares(symmetric_forward.x, symmetric_forward.y, step, 2, consider_symmetric);
    const MotionInfo mirrored = SymmetricBackward(symmetric_forward, forward_gap_, backward_gap_);
    const MotionPrediction symmetric = BiPredict(mb_x, mb_y, symmetric_forward, mirrored);
    symmetric_cost =
        LumaSad(source, mb_x, mb_y, symmetric.luma) +
        4 * (SeLength(symmetric_forward.x - predicted_forward.x) +
             SeLength(symmetric_forward.y - predicted_forward.y) + UeLength(kTypeSymmetric));
    const bool symmetric_usable = !Misdecoded(*reference_, mb_x, mb_y, mirrored);
    if (symmetric_cost < best.cost && symmetric_usable)
        best = Choice{kTypeSymmetric, symmetric_forward, mirrored, symmetric_cost};

    // An inter coding's mb_type, vector difference and residual; direct with nothing left to
    // code is the same as skipping, and is written so (true then).
    const auto write_inter = [&](BitWriter& bits, const Choice& choice, const InterMacroblock& mb) {
        if (choice.type == kTypeDirect && mb.cbp == 0) {
            bits.PutUe(kTypeSkip);
            return true;
        }
        bits.PutUe(static_cast<uint32_t>(choice.type));
        if (choice.type == kTypeForward || choice.type == kTypeSymmetric) {
            bits.PutSe(choice.forward.x - predicted_forward.x);
            bits.PutSe(choice.forward.y - predicted_forward.y);
        } else if (choice.type == kTypeBackward) {
            bits.PutSe(choice.backward.x - predicted_backward.x);
            bits.PutSe(choice.backward.y - predicted_backward.y);
        }
        WriteInterResidual(bits, mb);
        return false;
    };
    const auto prediction_of = [&](const Choice& c) {
        return c.type == kTypeDirect      ? direct
               : c.type == kTypeSymmetric ? symmetric
                                          : BiPredict(mb_x, mb_y, c.forward, c.backward);
    };
    const auto offer_skip = [&](MacroblockTrials& trials, int tag) {
        if (!direct_usable) return;
        StorePrediction(mb_x, mb_y, direct);
        BitWriter bits;
        bits.PutUe(kTypeSkip);
        trials.Offer(bits, tag);
    };
    const MotionInfo intra{0, 0, kIntraRef};
    if (by_cost) {
        // Every coding tried, the cheapest by squared error and bits kept.
        MacroblockTrials trials(current_, source, mb_x, mb_y, RdoLambda(qp));
        // Tags: the choice's index, or these two past any index.
        constexpr int kSkipped = 100, kIntra = 101;
        offer_skip(trials, kSkipped);
        // Every usable inter coding (trying only the two cheapest by the rough price saved a
        // tenth of the time and lost 0.06 dB on the 720p test pattern).
        Choice choices[4];
        int count = 0;
        if (direct_usable)
            choices[count++] = Choice{kTypeDirect, direct_forward, direct_backward, direct_cost};
        choices[count++] = Choice{kTypeForward, forward, none, forward_cost};
        choices[count++] = Choice{kTypeBackward, none, backward, backward_cost};
        if (symmetric_usable)
            choices[count++] = Choice{kTypeSymmetric, symmetric_forward, mirrored, symmetric_cost};
        for (int i = 0; i < count; ++i) {
            const Choice& c = choices[i];
            const InterMacroblock mb =
                CodeInterMacroblock(source, mb_x, mb_y, qp, prediction_of(c));
            BitWriter bits;
            // Direct with nothing to code is the skip trial again.
            if (write_inter(bits, c, mb)) continue;
            trials.Offer(bits, i);
        }
        OfferIntraTrial(trials, source, mb_x, mb_y, qp, PictureType::kBidirectional, kIntra);
        const int kept = trials.Keep(out);
        if (kept == kSkipped) {
            forward_record = direct_forward;
            backward_record = direct_backward;
            return 1;
        }
        const bool moved = kept != kIntra;
        forward_record = moved ? choices[kept].forward : intra;
        backward_record = moved ? choices[kept].backward : intra;
        return 0;
    }

    const MotionPrediction prediction = prediction_of(best);
    const InterJudgement judgement = JudgeInter(source, mb_x, mb_y, prediction);
    if (judgement != InterJudgement::kIntra) {
        // Skipping, which the quick test above turned down, is still weighed against the
        // chosen coding by squared error and bits: the test is rough, and one more trial
        // costs little beside the search.
        MacroblockTrials trials(current_, source, mb_x, mb_y, RdoLambda(qp));
        constexpr int kSkipped = 0, kCoded = 1, kIntra = 2;
        offer_skip(trials, kSkipped);
        const InterMacroblock mb = CodeInterMacroblock(source, mb_x, mb_y, qp, prediction);
        BitWriter bits;
        const bool coded_as_skip = write_inter(bits, best, mb);
        if (!coded_as_skip) trials.Offer(bits, kCoded);
        if (judgement == InterJudgement::kBoth)
            OfferIntraTrial(trials, source, mb_x, mb_y, qp, PictureType::kBidirectional, kIntra);
        const int kept = trials.Keep(out);
        forward_record = kept == kSkipped ? direct_forward : kept == kCoded ? best.forward : intra;
        backward_record = kept == kSkipped ? direct_backward
                          : kept == kCoded ? best.backward
                                           : intra;
        return kept == kSkipped ? 1 : 0;
    }
    forward_record = intra;
    backward_record = intra;
    const IntraMacroblock mb = CodeIntraMacroblock(source, mb_x, mb_y, qp, nullptr);
    WriteIntraMacroblock(out, mb, PictureType::kBidirectional);
    return 0;
}

// A group of B pictures coded by twins on the helper threads, and the rows of the picture
// the caller codes meanwhile, which free helpers join.
struct PictureCoder::BidirectionalGroup {
    std::vector<const Frame*> sources;
    std::vector<int> distances;
    std::vector<std::vector<uint8_t>> units;
    std::vector<PictureCoder*> coders;  // one twin per picture
    std::atomic<size_t> next{0};        // the next picture for a thread to take
    std::function<void()> helper_job;
    std::mutex lock;
    std::condition_variable changed;
    const std::function<void()>* rows = nullptr;  // the caller's row job, while it runs
    unsigned long long rows_posted = 0;
    int in_rows = 0;  // helpers running `rows`
    bool closed = false;

    // Codes a picture no thread has taken; false when none is left.
    bool CodeOne() {
        const size_t i = next++;
        if (i >= sources.size()) return false;
        units[i] = coders[i]->Encode(*sources[i], PictureType::kBidirectional, distances[i]);
        return true;
    }
    void CodePictures() {
        while (CodeOne()) {
        }
    }
    // A helper's part: pictures, then the caller's rows whenever they are posted, until closed.
    void Help() {
        CodePictures();
        unsigned long long seen = 0;
        for (;;) {
            const std::function<void()>* job;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return closed || (rows && rows_posted != seen); });
                if (closed) return;
                seen = rows_posted;
                job = rows;
                ++in_rows;
            }
            // The row job records its own failures for the caller; leaving it in any way
            // must still be counted, or the caller would wait for ever.
            struct Leave {
                BidirectionalGroup& group;
                ~Leave() {
                    {
                        const std::lock_guard<std::mutex> hold(group.lock);
                        --group.in_rows;
                    }
                    group.changed.notify_all();
                }
            } leave{*this};
            (*job)();
        }
    }
    // The caller's rows, run on every helper that is free or becomes so and, after `first`
    // (when given), on the caller.
    void ShareRows(const std::function<void()>& job, const std::function<void()>& first) {
        {
            const std::lock_guard<std::mutex> hold(lock);
            rows = &job;
            ++rows_posted;
        }
        changed.notify_all();
        std::exception_ptr failure;
        try {
            if (first) first();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            job();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        {
            std::unique_lock<std::mutex> hold(lock);
            rows = nullptr;
            changed.wait(hold, [&] { return in_rows == 0; });
        }
        if (failure) std::rethrow_exception(failure);
    }
    void Close() {
        {
            const std::lock_guard<std::mutex> hold(lock);
            closed = true;
        }
        changed.notify_all();
    }
};

PictureCoder::~PictureCoder() {
    if (!group_) return;
    // Left in the middle of a group (an error): the helpers must stop before the twins go.
    group_->next = group_->sources.size();
    group_->Close();
    if (std::min(threads_, mb_height_) <= 1) return;
    try {
        Workers().Wait();
    } catch (...) {
    }
}

void PictureCoder::RunRows(const std::function<void()>& rows) {
    if (group_) {
        const std::function<void()> first = std::move(work_before_rows_);
        work_before_rows_ = nullptr;
        group_->ShareRows(rows, first);
    } else {
        Workers().Run(rows);
    }
}

void PictureCoder::CopyStateTo(PictureCoder& twin) {
    // The copy shares the references (B pictures only read them) but not the picture being
    // built, the row threads, the twins or the group.
    Frame own_picture = std::move(current_);
    Frame twin_picture = std::move(twin.current_);
    std::shared_ptr<RowWorkers> workers = std::move(workers_);
    std::vector<std::shared_ptr<PictureCoder>> twins = std::move(twins_);
    std::shared_ptr<BidirectionalGroup> group = std::move(group_);
    std::shared_ptr<Frame> retired = std::move(retired_reference_);
    twin = *this;
    current_ = std::move(own_picture);
    workers_ = std::move(workers);
    twins_ = std::move(twins);
    group_ = std::move(group);
    retired_reference_ = std::move(retired);
    twin.current_ = std::move(twin_picture);
    twin.threads_ = 1;
    twin.work_before_rows_ = nullptr;
}

void PictureCoder::StartBidirectionalGroup(const std::vector<const Frame*>& sources,
                                           const std::vector<int>& distances) {
    if (sources.size() != distances.size())
        throw std::invalid_argument("a picture distance is needed for every B picture");
    if (group_) throw std::logic_error("a group of B pictures is being coded already");
    if (!have_forward_reference_ && !sources.empty())
        throw std::logic_error("a B picture needs two reference pictures");
    auto group = std::make_shared<BidirectionalGroup>();
    group->sources = sources;
    group->distances = distances;
    group->units.resize(sources.size());
    while (twins_.size() < sources.size())
        twins_.push_back(
            std::make_shared<PictureCoder>(mb_width_ * 16, mb_height_ * 16, qp_, search_range_));
    for (size_t i = 0; i < sources.size(); ++i) {
        CopyStateTo(*twins_[i]);
        group->coders.push_back(twins_[i].get());
    }
    group_ = group;
    coded_beside_group_ = false;
    if (std::min(threads_, mb_height_) > 1) {
        BidirectionalGroup* g = group.get();
        group->helper_job = [g] { g->Help(); };
        Workers().Start(group->helper_job);
    } else {
        group->Close();  // no helpers: Finish codes them all
    }
}

std::vector<std::vector<uint8_t>> PictureCoder::FinishBidirectionalGroup() {
    if (!group_) throw std::logic_error("no group of B pictures is being coded");
    const std::shared_ptr<BidirectionalGroup> group = group_;
    std::exception_ptr failure;
    try {
        group->CodePictures();
    } catch (...) {
        failure = std::current_exception();
        group->next = group->sources.size();
    }
    group->Close();
    if (std::min(threads_, mb_height_) > 1) {
        try {
            Workers().Wait();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    group_.reset();
    // Done with the references: a retired one is free to decode into again.
    for (PictureCoder* twin : group->coders) {
        twin->reference_.reset();
        twin->forward_reference_.reset();
    }
    if (failure) std::rethrow_exception(failure);
    if (!coded_beside_group_ && !group->coders.empty()) {
        // As after coding them in turn: the last B picture is the last coded.
        PictureCoder& last = *group->coders.back();
        std::swap(current_, last.current_);
        motion_.swap(last.motion_);
        last_qp_ = last.last_qp_;
        last_was_b_ = true;
        skipped_ = last.skipped_;
    }
    return std::move(group->units);
}

bool PictureCoder::CodeOneOfGroup() {
    if (!group_) return false;
    try {
        return group_->CodeOne();
    } catch (...) {
        group_->next = group_->sources.size();  // the rest is not coded; Finish waits only
        throw;
    }
}

std::vector<std::vector<uint8_t>> PictureCoder::EncodeBidirectionalGroup(
    const std::vector<const Frame*>& sources, const std::vector<int>& distances) {
    if (sources.size() != distances.size())
        throw std::invalid_argument("a picture distance is needed for every B picture");
    if (std::min(threads_, mb_height_) <= 1 || sources.size() <= 1) {
        std::vector<std::vector<uint8_t>> units;
        for (size_t i = 0; i < sources.size(); ++i)
            units.push_back(Encode(*sources[i], PictureType::kBidirectional, distances[i]));
        return units;
    }
    StartBidirectionalGroup(sources, distances);
    return FinishBidirectionalGroup();
}

}  // namespace harrowgate
