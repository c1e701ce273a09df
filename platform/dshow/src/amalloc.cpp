#include "dshow/base/amalloc.h"

#include <cstring>
#include <limits>

// ---------------------------------------------------------------- CMediaSample

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* pAllocator, HRESULT*, BYTE* pBuffer,
                           LONG length)
    : m_pBuffer(pBuffer), m_cbBuffer(length), m_pAllocator(pAllocator) {}

CMediaSample::~CMediaSample() {
    if (m_pMediaType != nullptr) DeleteMediaType(m_pMediaType);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMediaSample || riid == IID_IUnknown) return GetInterface(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) CMediaSample::Release() {
    LONG n = --m_cRef;
    if (n == 0) {
        if (m_pAllocator != nullptr)
            m_pAllocator->ReleaseBuffer(this);
        else
            delete this;
    }
    return static_cast<ULONG>(n);
}

void CMediaSample::ResetProperties() {
    m_dwFlags = 0;
    m_lActual = m_cbBuffer;
    m_Start = m_End = 0;
    m_MediaStart = 0;
    m_MediaEnd = 0;
    if (m_pMediaType != nullptr) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
}

HRESULT CMediaSample::SetPointer(BYTE* ptr, LONG cBytes) {
    if (cBytes < 0) return VFW_E_BUFFER_OVERFLOW;
    m_pBuffer = ptr;
    m_cbBuffer = cBytes;
    m_lActual = cBytes;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = m_pBuffer;
    return NOERROR;
}

STDMETHODIMP_(LONG) CMediaSample::GetSize() {
    return m_cbBuffer;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    if ((m_dwFlags & Sample_TimeValid) == 0) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = m_Start;
    if ((m_dwFlags & Sample_StopValid) == 0) {
        *pTimeEnd = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = m_End;
    return NOERROR;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
        return NOERROR;
    }
    m_Start = *pTimeStart;
    m_dwFlags |= Sample_TimeValid;
    if (pTimeEnd != nullptr) {
        m_End = *pTimeEnd;
        m_dwFlags |= Sample_StopValid;
    } else {
        m_dwFlags &= ~Sample_StopValid;
    }
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
    return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL b) {
    m_dwFlags = b ? (m_dwFlags | Sample_SyncPoint) : (m_dwFlags & ~Sample_SyncPoint);
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsPreroll() {
    return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL b) {
    m_dwFlags = b ? (m_dwFlags | Sample_Preroll) : (m_dwFlags & ~Sample_Preroll);
    return NOERROR;
}

STDMETHODIMP_(LONG) CMediaSample::GetActualDataLength() {
    return m_lActual;
}

STDMETHODIMP CMediaSample::SetActualDataLength(LONG length) {
    if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    m_lActual = length;
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    CheckPointer(ppMediaType, E_POINTER);
    if ((m_dwFlags & Sample_TypeChanged) == 0 || m_pMediaType == nullptr) {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(m_pMediaType);
    return *ppMediaType == nullptr ? E_OUTOFMEMORY : NOERROR;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    if (m_pMediaType != nullptr) {
        DeleteMediaType(m_pMediaType);
        m_pMediaType = nullptr;
    }
    if (pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return NOERROR;
    }
    m_pMediaType = CreateMediaType(pMediaType);
    if (m_pMediaType == nullptr) {
        m_dwFlags &= ~Sample_TypeChanged;
        return E_OUTOFMEMORY;
    }
    m_dwFlags |= Sample_TypeChanged;
    return NOERROR;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
    return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL b) {
    m_dwFlags = b ? (m_dwFlags | Sample_Discontinuity) : (m_dwFlags & ~Sample_Discontinuity);
    return NOERROR;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    CheckPointer(pTimeStart, E_POINTER);
    CheckPointer(pTimeEnd, E_POINTER);
    if ((m_dwFlags & Sample_MediaTimeValid) == 0) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = m_MediaStart;
    *pTimeEnd = m_MediaStart + m_MediaEnd;
    return NOERROR;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == nullptr) {
        m_dwFlags &= ~Sample_MediaTimeValid;
        return NOERROR;
    }
    CheckPointer(pTimeEnd, E_POINTER);
    if (*pTimeEnd < *pTimeStart) return VFW_E_START_TIME_AFTER_END;
    m_MediaStart = *pTimeStart;
    m_MediaEnd = static_cast<LONG>(*pTimeEnd - *pTimeStart);
    m_dwFlags |= Sample_MediaTimeValid;
    return NOERROR;
}

// ---------------------------------------------------------------- CBaseAllocator

CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

CBaseAllocator::~CBaseAllocator() = default;

STDMETHODIMP CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                           ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pRequest, E_POINTER);
    CheckPointer(pActual, E_POINTER);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
    if (m_lAllocated != static_cast<LONG>(m_free.size())) return VFW_E_BUFFERS_OUTSTANDING;
    LONG align = pRequest->cbAlign;
    if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
    m_lCount = pRequest->cBuffers;
    m_lSize = pRequest->cbBuffer;
    m_lAlignment = align;
    m_lPrefix = pRequest->cbPrefix;
    m_bChanged = true;
    *pActual = *pRequest;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    CheckPointer(pProps, E_POINTER);
    std::lock_guard<std::mutex> lock(m_mutex);
    pProps->cBuffers = m_lCount;
    pProps->cbBuffer = m_lSize;
    pProps->cbAlign = m_lAlignment;
    pProps->cbPrefix = m_lPrefix;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::Commit() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bCommitted) return NOERROR;
    if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
    m_bDecommitInProgress = false;
    // Samples of an earlier commit may still be out; they come back to this set.
    if (m_bChanged || m_lAllocated == 0) {
        if (m_lAllocated != static_cast<LONG>(m_free.size())) return VFW_E_BUFFERS_OUTSTANDING;
        Free();
        HRESULT hr = Alloc();
        if (FAILED(hr)) return hr;
        m_bChanged = false;
    }
    m_bCommitted = true;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::Decommit() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_bCommitted) return NOERROR;
        m_bCommitted = false;
        if (m_lAllocated == static_cast<LONG>(m_free.size()))
            Free();
        else
            m_bDecommitInProgress = true;
    }
    m_freed.notify_all();  // waiters in GetBuffer return VFW_E_NOT_COMMITTED
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME*, REFERENCE_TIME*,
                                       DWORD dwFlags) {
    CheckPointer(ppBuffer, E_POINTER);
    *ppBuffer = nullptr;
    CMediaSample* sample = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
            if (!m_free.empty()) break;
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            m_freed.wait(lock);
        }
        sample = m_free.back();
        m_free.pop_back();
        sample->ResetProperties();
        sample->m_cRef = 1;
    }
    // An outstanding sample keeps its allocator alive.
    AddRef();
    *ppBuffer = sample;
    return NOERROR;
}

STDMETHODIMP CBaseAllocator::ReleaseBuffer(IMediaSample* pSample) {
    CheckPointer(pSample, E_POINTER);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(static_cast<CMediaSample*>(pSample));
        if (m_bDecommitInProgress && m_lAllocated == static_cast<LONG>(m_free.size())) {
            Free();
            m_bDecommitInProgress = false;
        }
    }
    m_freed.notify_all();
    Release();
    return NOERROR;
}

// ---------------------------------------------------------------- CMemAllocator

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr) {}

CMemAllocator::~CMemAllocator() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Free();
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return new CMemAllocator(TEXT("CMemAllocator"), pUnk, phr);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
    CheckPointer(pRequest, E_POINTER);
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
        return E_INVALIDARG;
    ALLOCATOR_PROPERTIES req = *pRequest;
    if (req.cbAlign == 0) req.cbAlign = 1;
    return CBaseAllocator::SetProperties(&req, pActual);
}

HRESULT CMemAllocator::Alloc() {
    long long stride = static_cast<long long>(m_lSize) + m_lPrefix;
    stride = (stride + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    long long total = stride * m_lCount;
    if (total <= 0 || total > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;
    m_pBuffer = new (std::nothrow) BYTE[static_cast<size_t>(total) + m_lAlignment];
    if (m_pBuffer == nullptr) return E_OUTOFMEMORY;
    auto base = reinterpret_cast<uintptr_t>(m_pBuffer);
    uintptr_t aligned = (base + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    for (LONG i = 0; i < m_lCount; ++i) {
        BYTE* p = m_pBuffer + (aligned - base) + i * stride + m_lPrefix;
        m_free.push_back(new CMediaSample(TEXT("sample"), this, nullptr, p, m_lSize));
    }
    m_lAllocated = m_lCount;
    return NOERROR;
}

void CMemAllocator::Free() {
    for (CMediaSample* s : m_free) delete s;
    m_free.clear();
    m_lAllocated = 0;
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
}
