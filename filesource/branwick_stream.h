// What the file source's two output streams share beyond the seeking pin
// base: the position in the track and moving that position through the
// worker's command handshake.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "dshow/streams.h"
#include "filesource/avs_container.h"
#include "filtermodule/seeking_stream.h"

namespace filesource {

class CBranwickSource;

using filtermodule::kOpenSegmentStop;

class CBranwickStream : public filtermodule::CSeekingSourceStream {
  public:
    CBranwickStream(LPCTSTR object_name, HRESULT* phr, CBranwickSource* filter, LPCWSTR pin_name);

    int64_t next_sample() const { return next_sample_.load(); }
    int64_t sample_limit() const { return sample_limit_.load(); }
    int64_t time_offset() const { return time_offset_.load(); }

    // Unreadable samples in a row after which a stream ends.
    static constexpr int kUnreadableRunLimit = 16;

    // Back to the first sample with no time offset (the filter's Stop).
    void Rewind();
    // Moves the stream to sample k, and to a new time offset when one is
    // given. With a worker: flush downstream, stop the worker, change, end the
    // flush and restart it (which announces the new segment).
    void Reposition(int64_t k, std::optional<int64_t> offset);

  protected:
    // Start 0, stop and duration = the presentation's duration.
    void InitSeeking(int64_t duration);
    // Hook for what a reposition changes besides the position (the video's
    // header sample); runs while the worker waits.
    virtual void OnReposition() {}
    // Fills `sample` with the stream's sample bytes and times; the caller has
    // checked the buffer. Used by both FillBuffer implementations.
    void SetTimes(IMediaSample* sample, int64_t start, int64_t stop) const;
    // An empty sample at time 0 for a sample that cannot be read.
    static void MakeEmpty(IMediaSample* sample);
    // Counts a sample that could not be read; true once kUnreadableRunLimit of
    // them came in a row, when the stream ends instead: a broken table can
    // claim billions of samples that are not there.
    bool EndsAfterUnreadable() { return ++unreadable_run_ >= kUnreadableRunLimit; }
    void CountReadable() { unreadable_run_ = 0; }

    CBranwickSource* filter_;
    AvsContainer* container_ = nullptr;  // owned by the filter
    uint32_t track_ = 0;
    uint32_t timescale_ = 0;
    std::atomic<int64_t> next_sample_{1};
    std::atomic<int64_t> sample_limit_{0};
    std::atomic<int64_t> time_offset_{0};
    std::atomic<int> unreadable_run_{0};  // unreadable samples in a row
    CCritSec stream_lock_;                // held by the seek computation
    TrackSample fill_sample_;             // the worker's, reused from sample to sample
};

// k = trunc(start / stop * limit), at least 1, computed in double precision. A
// stop of 0 or less (a presentation without duration) gives 1; a quotient too
// large for the result saturates.
int64_t proportional_sample(int64_t start, int64_t stop, int64_t limit);

}  // namespace filesource
