#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "tools/harrowgate/bit_writer.h"
#include "tools/harrowgate/frame.h"
#include "tools/harrowgate/motion.h"
#include "tools/harrowgate/transform.h"

namespace harrowgate {

class MacroblockTrials;
class RowWorkers;

// Longest vector component searched, in whole samples: well inside the 16 bits the decoder
// keeps vectors in (quarter samples).
constexpr int kLongestVector = 2047;

// B pictures (kBidirectional) predict from the two latest intra or predicted pictures and
// are not references themselves.
enum class PictureType { kIntra, kPredicted, kBidirectional };

// The 16x16 luma prediction from `ref` at (x0, y0) moved by a vector in quarter samples whose
// components are multiples of two (whole and half samples).
void PredictLumaBlock16(const Plane& ref, int x0, int y0, int mv_x, int mv_y, uint8_t* out);
// The same for any quarter-sample vector, with the decoder's quarter-sample filters.
// FFmpeg's x86 decoder sums the vertical-only quarter-sample filters in 16 bits, and where
// the sum passes 32767 its sample comes out black: true when this block has such a sample,
// and the encoder then uses another vector, as decoders must agree with it.
bool PredictLumaBlockQuarter16(const Plane& ref, int x0, int y0, int mv_x, int mv_y, uint8_t* out);
// The same test without the prediction.
bool DecoderOverflowsQuarterFilter(const Plane& ref, int x0, int y0, int mv_x, int mv_y);

// A macroblock predicted worse than this (sum of absolute differences plus vector price)
// after the likely vectors also searches the whole window coarsely, up to this far each way
// in reduced samples (four picture samples).
constexpr int kCoarseSearchCost = 4 * 256;
constexpr int kCoarseSearchReach = 16;

// Each sample of `out` the mean of a 4x4 block of `in`.
void ReducePlane(const Plane& in, Plane& out);
// The vector (whole samples, multiples of 4) that best matches the macroblock's reduced
// samples within `reach` reduced samples each way (at most kCoarseSearchReach): a search of
// the whole window at a sixteenth of the cost, close to the best vector for the walk after.
MotionInfo CoarseSearch(const Plane& reduced_source, const Plane& reduced_reference, int mb_x,
                        int mb_y, int reach);

// Codes pictures of one size into picture units (picture header and one slice). Intra
// pictures code every macroblock with spatial prediction and its 8x8 transform coefficients.
// In predicted pictures a macroblock that the decoder's predicted motion already shows well
// is skipped, one that a searched motion vector clearly predicts well codes its
// difference from that prediction, one clearly better on its own is intra-coded, and for
// the rest both are coded and the cheaper kept. Keeps the
// decoder's reconstruction as the next reference, and the one before it for B pictures
// (b_picture.cpp), which are not references themselves.
class PictureCoder {
  public:
    // `search_range`: the largest motion vector component searched, in whole samples, per
    // picture between a picture and its reference.
    PictureCoder(int width, int height, int qp, int search_range = 32);

    // Returns the bytes of the picture unit, from its start code to its last stuffing byte.
    // `picture_distance` is the picture's display index modulo 256. Pictures come in coding
    // order: a B picture lies between the two reference pictures coded last.
    std::vector<uint8_t> Encode(const Frame& source, PictureType type, int picture_distance);
    // Codes B pictures that lie between the same two references, each with its
    // picture_distance, at the quantiser and byte limit set. With more than one thread they
    // are coded side by side, a picture per thread (a B picture depends on no other, and a
    // picture is steadier work for a thread than rows that wait on each other); the units,
    // and what the coder holds after, are those of Encode on each in turn.
    std::vector<std::vector<uint8_t>> EncodeBidirectionalGroup(
        const std::vector<const Frame*>& sources, const std::vector<int>& distances);
    // The same in two halves, so that the next reference picture is coded beside the B
    // pictures before it: Start hands the B pictures (whose sources must outlive the group)
    // to the helper threads and returns; an Encode of the next reference picture meanwhile
    // shares its rows with the helpers that are free; Finish codes what no helper has taken
    // and returns the B pictures' units. The units, and what the coder holds after, are those
    // of coding the B pictures and then that reference in turn.
    void StartBidirectionalGroup(const std::vector<const Frame*>& sources,
                                 const std::vector<int>& distances);
    std::vector<std::vector<uint8_t>> FinishBidirectionalGroup();
    // Codes one of the group's pictures that no thread has taken yet, on the caller (who has
    // nothing else to do for now); false when none is left.
    bool CodeOneOfGroup();
    // Work for the caller of the next Encode beside a group, once that picture's rows are
    // handed to the helpers and before the caller joins them (decoding the pictures that
    // follow, coding the group's pictures no helper has taken), so that a helper done with
    // its B pictures goes on with the rows at once. Run at most once: the next Encode drops
    // it, also when that picture's rows are not shared.
    void SetWorkBeforeRows(std::function<void()> work) { work_before_rows_ = std::move(work); }

    // Quantiser of the next pictures (0..63).
    void SetQp(int qp);
    // Largest size of the next picture units in bytes, 0 for no limit: a unit that comes out
    // larger is coded again with a coarser quantiser (intra pictures may still exceed it at
    // the coarsest).
    void SetByteLimit(size_t bytes) { byte_limit_ = bytes; }
    // The standard's loop filter on the next pictures (signalled in their headers); off, the
    // reference is the unfiltered reconstruction.
    void SetLoopFilter(bool on) { loop_filter_ = on; }
    // Threads coding the rows of macroblocks of a picture (a row starts once the row above
    // is two macroblocks ahead); the output is the same for any number.
    void SetThreads(int threads) { threads_ = std::max(1, threads); }
    // Vectors refined to half samples (with the standard's interpolation); off, whole even
    // samples only.
    void SetSubSampleMotion(bool on) { sub_sample_ = on; }
    // Predicted pictures choose each macroblock's coding (skipped, moved, intra) by trying
    // all three and taking the least squared error plus weighted bits.
    void SetRateDistortionChoice(bool on) { rdo_ = on; }
    // Off: the picture headers say the frames are interlaced (progressive_frame 0, coded as
    // frame pictures with the top field first); the coding itself is the same.
    void SetProgressive(bool on) { progressive_ = on; }
    // Offsets (-8..8) of the filter's thresholds, signalled when not both 0.
    void SetLoopFilterOffsets(int alpha, int beta) {
        alpha_offset_ = alpha;
        beta_offset_ = beta;
    }

    // The decoder's picture of the last unit.
    const Frame& Reconstruction() const { return last_was_b_ ? current_ : *reference_; }
    int LastQp() const { return last_qp_; }
    int SkippedMacroblocks() const { return skipped_; }
    // Motion of each macroblock of the last picture, row by row (kIntraRef for intra ones).
    const std::vector<MotionInfo>& Motion() const { return motion_; }

    ~PictureCoder();

  private:
    // Copies share the reference pictures: only CopyStateTo makes them.
    PictureCoder(const PictureCoder&) = default;
    PictureCoder& operator=(const PictureCoder&) = default;
    struct BidirectionalGroup;

    struct IntraMacroblock {
        int luma_modes[4] = {2, 2, 2, 2};  // LumaMode values
        Block luma[4];
        Block chroma[2];
        int chroma_mode = 0;
        int cbp = 0;
    };

    std::vector<uint8_t> EncodeWithQp(const Frame& source, PictureType type, int picture_distance,
                                      int qp, bool skip_all);
    std::vector<uint8_t> Finish(std::vector<uint8_t> unit, int qp);
    void WritePictureHeader(BitWriter& out, PictureType type, int picture_distance, int qp);
    struct InterMacroblock {
        Block luma[4];
        Block chroma[2];
        int cbp = 0;
    };

    // Chooses the luma modes against the neighbours' (`modes_left`: the right blocks' modes
    // of the macroblock to the left) where given; without, low-pass only.
    IntraMacroblock CodeIntraMacroblock(const Frame& source, int mb_x, int mb_y, int qp,
                                        const int* modes_left);
    // `modes_left`: the right blocks' modes of the macroblock to the left, updated here.
    void WriteLumaModes(BitWriter& out, const IntraMacroblock& mb, int mb_x, PictureType type,
                        int* modes_left);
    int CodeMacroblockByCost(BitWriter& out, const Frame& source, int qp, int mb_x, int mb_y);
    // Codes the macroblock intra (in the current picture) and offers it to `trials` as `tag`.
    void OfferIntraTrial(MacroblockTrials& trials, const Frame& source, int mb_x, int mb_y, int qp,
                         PictureType type, int tag);
    // Codes one macroblock into `out`; 1 when it is coded as skipped.
    int CodeMacroblock(BitWriter& out, const Frame& source, PictureType type, int qp, bool skip_all,
                       int mb_x, int mb_y, int* modes_left);
    // The samples a macroblock gets from the previous picture moved by a vector.
    struct MotionPrediction {
        uint8_t luma[256];
        uint8_t chroma[2][64];
    };

    // The samples from `ref` moved by a vector in quarter samples (chroma in eighths).
    static MotionPrediction PredictFrom(const Frame& ref, int mb_x, int mb_y,
                                        const MotionInfo& motion);
    MotionPrediction MotionCompensate(int mb_x, int mb_y, const MotionInfo& motion) const {
        return PredictFrom(*reference_, mb_x, mb_y, motion);
    }
    // Bits against squared error in the rate-distortion choice at quantiser `qp`.
    static double RdoLambda(int qp);
    // Whether a macroblock moved by `motion` in `ref` decodes wrongly
    // (DecoderOverflowsQuarterFilter).
    static bool Misdecoded(const Frame& ref, int mb_x, int mb_y, const MotionInfo& motion) {
        return motion.ref >= 0 &&
               DecoderOverflowsQuarterFilter(ref.luma, mb_x * 16, mb_y * 16, motion.x, motion.y);
    }
    MotionInfo Neighbour(int mb_x, int mb_y) const;  // kNoNeighbour outside the picture
    MotionInfo SearchMotion(const Frame& source, int mb_x, int mb_y, const MotionInfo& predicted,
                            const MotionInfo& skipped) const;
    int LumaDifference(const Frame& source, int mb_x, int mb_y, int dx, int dy) const;
    InterMacroblock CodeInterMacroblock(const Frame& source, int mb_x, int mb_y, int qp,
                                        const MotionPrediction& prediction);
    void WriteInterMacroblock(BitWriter& out, const InterMacroblock& mb, int mvd_x, int mvd_y);
    // The coded block pattern and the coefficients of an inter macroblock.
    static void WriteInterResidual(BitWriter& out, const InterMacroblock& mb);
    // Whether a macroblock is coded from its motion prediction, on its own, or both tried and
    // the cheaper kept.
    enum class InterJudgement { kInter, kIntra, kBoth };
    InterJudgement JudgeInter(const Frame& source, int mb_x, int mb_y,
                              const MotionPrediction& prediction) const;
    bool CanSkip(const Frame& source, int mb_x, int mb_y, int qp,
                 const MotionPrediction& prediction) const;
    void StorePrediction(int mb_x, int mb_y, const MotionPrediction& prediction);
    // B pictures (b_picture.cpp).
    void WriteBidirectionalPictureHeader(BitWriter& out, int picture_distance, int qp);
    int CodeBidirectionalMacroblock(BitWriter& out, const Frame& source, int qp, bool skip_all,
                                    int mb_x, int mb_y);
    MotionPrediction BiPredict(int mb_x, int mb_y, const MotionInfo& forward,
                               const MotionInfo& backward) const;
    // Searches `ref`, `gap` (PictureGap) away, around the starts; returns the vector and its
    // cost in *cost.
    MotionInfo SearchReference(const Frame& ref, const Plane& reduced_ref, int gap,
                               const Frame& source, int mb_x, int mb_y, const MotionInfo& predicted,
                               const MotionInfo* starts, int count, int* cost) const;
    // Sum of absolute differences plus the vector's price of predicting with `forward` and
    // its mirror onto the backward reference.
    int SymmetricPrice(const Frame& source, int mb_x, int mb_y, const MotionInfo& forward,
                       const MotionInfo& predicted) const;
    void WriteIntraMacroblock(BitWriter& out, const IntraMacroblock& mb, PictureType type);
    void WriteIntraMacroblockTail(BitWriter& out, const IntraMacroblock& mb, int cbp_code,
                                  PictureType type);

    int mb_width_;
    int mb_height_;
    int qp_;
    int search_range_;
    int picture_search_range_ = 0;  // for the picture being coded
    size_t byte_limit_ = 0;
    bool loop_filter_ = false;
    bool progressive_ = true;
    int threads_ = 1;
    bool sub_sample_ = false;
    bool rdo_ = false;
    int alpha_offset_ = 0;
    int beta_offset_ = 0;
    int last_qp_;
    int skipped_ = 0;
    // The decoder's latest reference picture and the one before it (for B pictures), shared
    // with the twins while they code B pictures.
    std::shared_ptr<Frame> reference_;
    std::shared_ptr<Frame> forward_reference_;
    bool have_forward_reference_ = false;
    PictureType coding_type_ = PictureType::kIntra;  // of the picture being coded
    int coding_distance_ = 0;                        // its picture_distance
    int reference_distance_ = 0;                     // picture_distance of reference_
    int forward_distance_ = 0;                       // ... and of forward_reference_
    int forward_gap_ = 2;   // PictureGap to the forward reference of the picture being coded
    int backward_gap_ = 2;  // B pictures: PictureGap to reference_
    int co_gap_ = 2;        // PictureGap of reference_ to its own reference
    bool last_was_b_ = false;
    std::vector<MotionInfo> co_motion_;        // motion_ of reference_, for direct vectors
    std::vector<MotionInfo> backward_motion_;  // B pictures: backward vectors per macroblock
    Frame current_;                            // decoder's picture being built
    bool have_reference_ = false;
    // Signalled luma modes of the neighbours, for predicting the next modes (intra pictures):
    // the bottom blocks of the row above, the right blocks of the macroblock to the left;
    // -1 where there is no neighbour.
    std::vector<int> modes_above_;
    std::vector<MotionInfo> motion_;  // per macroblock of the picture being coded
    // The luma of both references and of the picture being coded reduced a quarter each way
    // (ReducePlane), for CoarseSearch.
    Plane reduced_reference_;
    Plane reduced_forward_;
    Plane reduced_source_;
    // The threads that code rows, with more than one thread; made on first use.
    std::shared_ptr<RowWorkers> workers_;
    // workers_, made again when the thread count has changed; called before threads_ is
    // lowered for a group of B pictures.
    RowWorkers& Workers();
    std::function<void()> work_before_rows_;  // see SetWorkBeforeRows
    // Copies of this coder that code a group's other B pictures beside it; made on first use.
    std::vector<std::shared_ptr<PictureCoder>> twins_;
    // Makes `twin` this coder as it stands, keeping the twin's own picture buffer and one thread.
    void CopyStateTo(PictureCoder& twin);
    // The B pictures being coded between Start- and FinishBidirectionalGroup.
    std::shared_ptr<BidirectionalGroup> group_;
    bool coded_beside_group_ = false;  // a picture of this coder's own since the group started
    // A reference picture the twins still read when a newer one replaced it: kept to decode
    // into again once they are done.
    std::shared_ptr<Frame> retired_reference_;
    // Runs a picture's row job on this coder's threads, or on the caller and the helpers
    // that a group of B pictures has left free.
    void RunRows(const std::function<void()>& rows);
};

}  // namespace harrowgate
