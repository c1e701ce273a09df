#pragma once

#include <cstddef>

namespace harrowgate {

// Chooses each picture's quantiser so that the stream averages a target bit rate, and keeps
// every picture small enough for the decoder's buffer (filled at the target rate, emptied
// by each picture at once) never to run dry. The model: a picture's bits halve for every 8
// steps of the quantiser, times a complexity per picture kind learnt from the pictures
// coded so far.
class RateController {
  public:
    // `buffer_bits`: the size of the decoder's buffer, which starts full.
    RateController(double bits_per_second, double pictures_per_second, int gop_length, int start_qp,
                   double buffer_bits);

    // Quantiser for the next picture, which is intra when `intra`; `position_in_gop` counts
    // from 0 at the intra picture.
    int NextQp(bool intra, int position_in_gop);
    // Largest size of the next picture, headers included, in bytes.
    size_t ByteLimit() const;
    // The next picture was coded at `qp` into `bytes` bytes (headers included).
    void Coded(bool intra, int qp, size_t bytes);

    double BufferFullness() const { return fullness_; }

  private:
    double picture_bits_;  // the target's share of one picture
    int gop_length_;
    int start_qp_;
    double buffer_bits_;
    double fullness_;
    double deficit_ = 0;  // bits spent beyond the target so far
    // Bits at quantiser 0, per picture kind; negative until one has been coded.
    double intra_complexity_ = -1;
    double predicted_complexity_ = -1;
    int last_qp_[2];  // predicted, intra
};

}  // namespace harrowgate
