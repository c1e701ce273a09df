// What the file source's two output streams share: an output pin with its
// worker, IMediaSeeking on the pin, the position in the track, and moving that
// position through the worker's command handshake.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "dshow/streams.h"
#include "filesource/avs_container.h"

namespace filesource {

class CBranwickSource;

// The new-segment values announced when the worker starts: its segment.
inline constexpr REFERENCE_TIME kOpenSegmentStop = 0x7F00000000000000LL;

class CBranwickStream : public CSourceStream, public CSourceSeeking {
  public:
    CBranwickStream(LPCTSTR object_name, HRESULT* phr, CBranwickSource* filter, LPCWSTR pin_name);

    // Both bases are COM objects owned by the pin; everything goes to the filter.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return CSourceStream::GetOwner()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CSourceStream::GetOwner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CSourceStream::GetOwner()->Release(); }
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IQualityControl: no quality management.
    STDMETHODIMP Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

    int64_t next_sample() const { return next_sample_.load(); }
    int64_t sample_limit() const { return sample_limit_.load(); }
    int64_t time_offset() const { return time_offset_.load(); }

    // Back to the first sample with no time offset (the filter's Stop).
    void Rewind();
    // Moves the stream to sample k, and to a new time offset when one is
    // given. With a worker: flush downstream, stop the worker, change, end the
    // flush and restart it (which announces the new segment).
    void Reposition(int64_t k, std::optional<int64_t> offset);

  protected:
    HRESULT OnThreadStartPlay() override;
    HRESULT ChangeStop() override;
    HRESULT ChangeRate() override;

    // Start 0, stop and duration = the presentation's duration.
    void InitSeeking(int64_t duration);
    // The seeking start and stop, read under the seeking lock.
    void SeekingPositions(REFERENCE_TIME& start, REFERENCE_TIME& stop);
    // Copies the seeking values for the worker, which must not take the filter
    // lock (a Stop holding it waits for the worker).
    void UpdateSegment();
    // Hook for what a reposition changes besides the position (the video's
    // header sample); runs while the worker waits.
    virtual void OnReposition() {}
    // Fills `sample` with the stream's sample bytes and times; the caller has
    // checked the buffer. Used by both FillBuffer implementations.
    void SetTimes(IMediaSample* sample, int64_t start, int64_t stop) const;
    // An empty sample at time 0 for a sample that cannot be read.
    static void MakeEmpty(IMediaSample* sample);

    CBranwickSource* filter_;
    AvsContainer* container_ = nullptr;  // owned by the filter
    uint32_t track_ = 0;
    uint32_t timescale_ = 0;
    std::atomic<int64_t> next_sample_{1};
    std::atomic<int64_t> sample_limit_{0};
    std::atomic<int64_t> time_offset_{0};
    CCritSec stream_lock_;     // held by the seek computation
    TrackSample fill_sample_;  // the worker's, reused from sample to sample

  private:
    std::atomic<REFERENCE_TIME> segment_start_{0};
    std::atomic<REFERENCE_TIME> segment_stop_{0};
    std::atomic<double> segment_rate_{1.0};
};

// k = trunc(start / stop * limit), at least 1, computed in double precision. A
// stop of 0 or less (a presentation without duration) gives 1; a quotient too
// large for the result saturates.
int64_t proportional_sample(int64_t start, int64_t stop, int64_t limit);

}  // namespace filesource
