// What the output pins of both source filters share: a CSourceStream with its
// worker and IMediaSeeking on the pin, the copy of the seeking values the
// worker reads, and the buffer negotiation. Seeking and buffer sizes are
// written here once; the filters add what they deliver and how they move.
#pragma once

#include <atomic>

#include "dshow/streams.h"

namespace filtermodule {

// The stop a pin's own new segment announces when it starts over (open-ended).
inline constexpr REFERENCE_TIME kOpenSegmentStop = 0x7F00000000000000LL;

class CSeekingSourceStream : public CSourceStream, public CSourceSeeking {
  public:
    CSeekingSourceStream(LPCTSTR object_name, HRESULT* phr, CSource* filter, LPCWSTR pin_name);

    // Both bases are COM objects owned by the pin; everything goes to the filter.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return CSourceStream::GetOwner()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CSourceStream::GetOwner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CSourceStream::GetOwner()->Release(); }
    // IMediaSeeking on the pin while SeekingOffered(), the pin's interfaces otherwise.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // IQualityControl: no quality management.
    STDMETHODIMP Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

    // The seeking values as last copied: the worker must not take the filter
    // lock (a Stop holding it waits for the worker).
    REFERENCE_TIME segment_start() const { return segment_start_.load(); }
    REFERENCE_TIME segment_stop() const { return segment_stop_.load(); }
    double segment_rate() const { return segment_rate_.load(); }

  protected:
    // False hides IMediaSeeking (a live stream cannot seek).
    virtual bool SeekingOffered() const { return true; }
    // Bytes of the largest sample the pin delivers: two buffers of at least
    // this size are asked for, and an allocator giving less is refused.
    virtual LONG SampleBufferSize() const = 0;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // The worker's first act: announce the copied segment.
    HRESULT OnThreadStartPlay() override;
    HRESULT ChangeStop() override;
    HRESULT ChangeRate() override;

    // Stop and duration = `duration` (the start stays), then copied.
    void SetSeekingDuration(REFERENCE_TIME duration);
    // The seeking start and stop, read under the seeking lock.
    void SeekingPositions(REFERENCE_TIME& start, REFERENCE_TIME& stop);
    // Copies the seeking values for the worker; called on every change.
    void CopySegment();

  private:
    // The seeking values' own lock, not the filter's: a renderer may ask for the stop
    // position on the worker thread (at end of stream) while a Stop holding the filter
    // lock waits for that worker. The seeking base only keeps its address until then.
    CCritSec seeking_lock_;
    std::atomic<REFERENCE_TIME> segment_start_{0};
    std::atomic<REFERENCE_TIME> segment_stop_{0x7FFFFFFFFFFFFFFFLL};
    std::atomic<double> segment_rate_{1.0};
};

// The creation function a filter's factory template names: `make` news the
// filter without throwing; a null result is out of memory.
template <class Make>
CUnknown* NewFilterInstance(HRESULT* phr, Make make) {
    if (phr != nullptr) *phr = S_OK;
    CUnknown* filter = make();
    if (filter == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
    return filter;
}

}  // namespace filtermodule
