#pragma once

#include <cstddef>

namespace harrowgate {

enum class PictureKind { kIntra, kPredicted, kBidirectional };

// B pictures are coded this many quantiser steps coarser than the predicted pictures around
// them: nothing predicts from them, so their errors do not spread.
constexpr int kBidirectionalQpOffset = 2;
// Intra pictures are coded this many steps finer: every picture up to the next intra one
// predicts from them, and so inherits their errors.
constexpr int kIntraQpOffset = -4;

// Chooses each picture's quantiser so that the stream averages a target bit rate, and keeps
// every picture small enough for the decoder's buffer (filled at the target rate, emptied
// by each picture at once) never to run dry. The model: a picture's bits halve for every 8
// steps of the quantiser, times a complexity per picture kind learnt from the pictures
// coded so far. B pictures are a kind of their own, with a complexity of their own, coded
// kBidirectionalQpOffset above the predicted picture coded before them; intra pictures are
// planned kIntraQpOffset from the predicted ones.
class RateController {
  public:
    // `buffer_bits`: the size of the decoder's buffer, which starts full.
    // `b_pictures`: the B pictures between references (the encoder's -b).
    RateController(double bits_per_second, double pictures_per_second, int gop_length, int start_qp,
                   double buffer_bits, int b_pictures = 0);

    // Quantiser for the next picture; `position_in_gop` is its display position, counting
    // from 0 at the intra picture.
    int NextQp(PictureKind kind, int position_in_gop);
    int NextQp(bool intra, int position_in_gop) {
        return NextQp(intra ? PictureKind::kIntra : PictureKind::kPredicted, position_in_gop);
    }
    // Largest size of the next picture, headers included, in bytes.
    size_t ByteLimit() const;
    // The next picture was coded at `qp` into `bytes` bytes (headers included).
    void Coded(PictureKind kind, int qp, size_t bytes);
    void Coded(bool intra, int qp, size_t bytes) {
        Coded(intra ? PictureKind::kIntra : PictureKind::kPredicted, qp, bytes);
    }

    double BufferFullness() const { return fullness_; }

  private:
    // The kind of the picture at a display position of the GOP.
    PictureKind KindAt(int position) const;

    double picture_bits_;  // the target's share of one picture
    int gop_length_;
    int start_qp_;
    double buffer_bits_;
    double fullness_;
    double deficit_ = 0;  // bits spent beyond the target so far
    // Bits at quantiser 0, per picture kind; negative until one has been coded.
    double intra_complexity_ = -1;
    double predicted_complexity_ = -1;
    double bidirectional_complexity_ = -1;
    int b_pictures_;
    int last_qp_[3];  // predicted, intra, B
};

}  // namespace harrowgate
