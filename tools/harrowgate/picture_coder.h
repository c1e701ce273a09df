#pragma once

#include <cstdint>
#include <vector>

#include "bit_writer.h"
#include "frame.h"
#include "motion.h"
#include "transform.h"

namespace harrowgate {

enum class PictureType { Intra, Predicted };

// Codes pictures of one size into picture units (picture header and one slice). Intra
// pictures code every macroblock with spatial prediction and its 8x8 transform coefficients.
// In predicted pictures a macroblock that the decoder's predicted motion already shows well
// is skipped, one that a searched whole-sample motion vector predicts well codes its
// difference from that prediction, and the rest are intra-coded. Keeps the
// decoder's reconstruction as the next reference.
class PictureCoder {
  public:
    PictureCoder(int width, int height, int qp);

    // Returns the bytes of the picture unit, from its start code to its last stuffing byte.
    std::vector<uint8_t> encode(const Frame& source, PictureType type, int picture_distance);

    const Frame& reconstruction() const { return reference_; }
    int last_qp() const { return last_qp_; }
    int skipped_macroblocks() const { return skipped_; }

  private:
    struct IntraMacroblock {
        int luma_modes[4] = {2, 2, 2, 2};  // LumaMode values
        Block luma[4];
        Block chroma[2];
        int chroma_mode = 0;
        int cbp = 0;
    };

    std::vector<uint8_t> encode_with_qp(const Frame& source, PictureType type, int picture_distance,
                                        int qp, bool skip_all);
    std::vector<uint8_t> finish(std::vector<uint8_t> unit, int qp);
    void write_picture_header(BitWriter& out, PictureType type, int picture_distance, int qp);
    struct InterMacroblock {
        Block luma[4];
        Block chroma[2];
        int cbp = 0;
    };

    IntraMacroblock code_intra_macroblock(const Frame& source, int mb_x, int mb_y, int qp,
                                          bool choose_luma_modes);
    void write_luma_modes(BitWriter& out, const IntraMacroblock& mb, int mb_x, PictureType type);
    // The samples a macroblock gets from the previous picture moved by a vector.
    struct MotionPrediction {
        uint8_t luma[256];
        uint8_t chroma[2][64];
    };

    MotionPrediction motion_compensate(int mb_x, int mb_y, const MotionInfo& motion) const;
    MotionInfo neighbour(int mb_x, int mb_y) const;  // kNoNeighbour outside the picture
    MotionInfo search_motion(const Frame& source, int mb_x, int mb_y, const MotionInfo& predicted,
                             const MotionInfo& skipped) const;
    int luma_difference(const Frame& source, int mb_x, int mb_y, int dx, int dy) const;
    InterMacroblock code_inter_macroblock(const Frame& source, int mb_x, int mb_y, int qp,
                                          const MotionPrediction& prediction);
    void write_inter_macroblock(BitWriter& out, const InterMacroblock& mb, int mvd_x, int mvd_y);
    bool prefer_inter(const Frame& source, int mb_x, int mb_y,
                      const MotionPrediction& prediction) const;
    bool can_skip(const Frame& source, int mb_x, int mb_y, int qp,
                  const MotionPrediction& prediction) const;
    void store_prediction(int mb_x, int mb_y, const MotionPrediction& prediction);
    void write_intra_macroblock(BitWriter& out, const IntraMacroblock& mb, PictureType type);
    void write_intra_macroblock_tail(BitWriter& out, const IntraMacroblock& mb, int cbp_code,
                                     PictureType type);

    int mb_width_;
    int mb_height_;
    int qp_;
    int last_qp_;
    int skipped_ = 0;
    Frame reference_;  // decoder's picture before this one
    Frame current_;    // decoder's picture being built
    bool have_reference_ = false;
    // Signalled luma modes of the neighbours, for predicting the next modes (intra pictures):
    // the bottom blocks of the row above, the right blocks of the macroblock to the left;
    // -1 where there is no neighbour.
    std::vector<int> modes_above_;
    std::vector<MotionInfo> motion_;  // per macroblock of the picture being coded
    int modes_left_[2] = {-1, -1};
};

}  // namespace harrowgate
