#include "filtermodule/seeking_stream.h"

namespace filtermodule {

CSeekingSourceStream::CSeekingSourceStream(LPCTSTR object_name, HRESULT* phr, CSource* filter,
                                           LPCWSTR pin_name)
    : CSourceStream(object_name, phr, filter, pin_name),
      CSourceSeeking(TEXT("MediaSeeking"), static_cast<IPin*>(this), phr, &seeking_lock_) {}

STDMETHODIMP CSeekingSourceStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMediaSeeking) {
        if (!SeekingOffered()) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CSeekingSourceStream::DecideBufferSize(IMemAllocator* allocator,
                                               ALLOCATOR_PROPERTIES* request) {
    CheckPointer(allocator, E_POINTER);
    CheckPointer(request, E_POINTER);
    const LONG size = SampleBufferSize();
    request->cBuffers = 2;
    request->cbBuffer = size;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < size ? E_FAIL : S_OK;
}

HRESULT CSeekingSourceStream::OnThreadStartPlay() {
    return DeliverNewSegment(segment_start_.load(), segment_stop_.load(), segment_rate_.load());
}

HRESULT CSeekingSourceStream::ChangeStop() {
    CopySegment();
    return S_OK;
}

HRESULT CSeekingSourceStream::ChangeRate() {
    CopySegment();
    return S_OK;
}

void CSeekingSourceStream::SetSeekingDuration(REFERENCE_TIME duration) {
    {
        CAutoLock lock(CSourceSeeking::m_pLock);
        m_rtDuration = duration;
        m_rtStop = duration;
    }
    CopySegment();
}

void CSeekingSourceStream::SeekingPositions(REFERENCE_TIME& start, REFERENCE_TIME& stop) {
    CAutoLock lock(CSourceSeeking::m_pLock);
    start = m_rtStart;
    stop = m_rtStop;
}

void CSeekingSourceStream::CopySegment() {
    CAutoLock lock(CSourceSeeking::m_pLock);
    segment_start_ = m_rtStart;
    segment_stop_ = m_rtStop;
    segment_rate_ = m_dRateSeeking;
}

}  // namespace filtermodule
