#include "tools/harrowgate/rate_control.h"

#include <algorithm>
#include <cmath>

namespace harrowgate {
namespace {

// The quantiser step doubles every 8 steps of qp.
double Scale(int qp) {
    return std::exp2(-qp / 8.0);
}

}  // namespace

RateController::RateController(double bits_per_second, double pictures_per_second, int gop_length,
                               int start_qp, double buffer_bits, int b_pictures)
    : picture_bits_(bits_per_second / pictures_per_second),
      gop_length_(std::max(1, gop_length)),
      start_qp_(start_qp),
      buffer_bits_(buffer_bits),
      fullness_(buffer_bits),
      b_pictures_(std::max(0, b_pictures)),
      last_qp_{start_qp, std::clamp(start_qp + kIntraQpOffset, 0, 63),
               std::min(63, start_qp + kBidirectionalQpOffset)} {}

PictureKind RateController::KindAt(int position) const {
    const int p = position % gop_length_;
    if (p == 0) return PictureKind::kIntra;
    if (b_pictures_ == 0 || p % (b_pictures_ + 1) == 0 || p == gop_length_ - 1)
        return PictureKind::kPredicted;
    return PictureKind::kBidirectional;
}

int RateController::NextQp(PictureKind kind, int position_in_gop) {
    const bool intra = kind == PictureKind::kIntra;
    const bool bidirectional = kind == PictureKind::kBidirectional;
    const int offset = bidirectional ? kBidirectionalQpOffset : intra ? kIntraQpOffset : 0;
    if (intra && intra_complexity_ < 0) return std::clamp(start_qp_ + offset, 0, 63);
    if (!intra && predicted_complexity_ < 0 && intra_complexity_ < 0)
        return std::min(63, start_qp_ + offset);
    // A B picture follows its later reference in coding order: it takes that picture's
    // quantiser, the offset coarser. The plan below counts B pictures at that offset, and
    // the reference pictures make up for what they spend.
    if (bidirectional && predicted_complexity_ >= 0) return std::min(63, last_qp_[0] + offset);
    // Until a predicted picture is measured, guess it costs a quarter of an intra one.
    const double predicted =
        predicted_complexity_ >= 0 ? predicted_complexity_ : intra_complexity_ / 4;
    const double intra_cost =
        (intra_complexity_ >= 0 ? intra_complexity_ : predicted * 4) * Scale(kIntraQpOffset);
    // One GOP's worth of pictures from this one on, and its share of the target, less what
    // has been overspent; never plan for less than a quarter of the share.
    // B pictures, coded coarser, count at their bits at the plan's quantiser; until one is
    // measured, guess half a predicted one.
    const double b_cost =
        (bidirectional_complexity_ >= 0 ? bidirectional_complexity_ : predicted / 2) *
        Scale(kBidirectionalQpOffset);
    double complexity = 0;
    for (int i = 0; i < gop_length_; ++i) {
        if (b_pictures_ > 0 && KindAt(position_in_gop + i) == PictureKind::kBidirectional)
            complexity += b_cost;
        else
            complexity += (position_in_gop + i) % gop_length_ == 0 ? intra_cost : predicted;
    }
    const double share = picture_bits_ * gop_length_;
    const double budget = std::max(share * 0.25, share - deficit_);
    int qp = static_cast<int>(std::lround(8.0 * std::log2(complexity / budget))) + offset;
    // Small steps between pictures of a kind: the model is rough and jumps would show.
    const int last = last_qp_[intra ? 1 : bidirectional ? 2 : 0];
    const int step = intra ? 8 : 4;
    qp = std::clamp(qp, last - step, last + step);
    return std::clamp(qp, 0, 63);
}

size_t RateController::ByteLimit() const {
    return static_cast<size_t>(std::max(0.0, fullness_) / 8);
}

void RateController::Coded(PictureKind kind, int qp, size_t bytes) {
    const bool intra = kind == PictureKind::kIntra;
    const double bits = static_cast<double>(bytes) * 8;
    const double complexity = bits / Scale(qp);
    double& estimate = intra                                 ? intra_complexity_
                       : kind == PictureKind::kBidirectional ? bidirectional_complexity_
                                                             : predicted_complexity_;
    estimate = estimate < 0 ? complexity : (estimate + complexity) / 2;
    last_qp_[intra ? 1 : kind == PictureKind::kBidirectional ? 2 : 0] = qp;
    deficit_ += bits - picture_bits_;
    fullness_ = std::min(buffer_bits_, fullness_ - bits + picture_bits_);
}

}  // namespace harrowgate
