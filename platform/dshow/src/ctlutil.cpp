#include "dshow/base/ctlutil.h"

CSourceSeeking::CSourceSeeking(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*, CCritSec* pLock)
    : CUnknown(pName, pUnk),
      m_rtDuration(0x7FFFFFFFFFFFFFFFLL),
      m_rtStart(0),
      m_rtStop(0x7FFFFFFFFFFFFFFFLL),
      m_dRateSeeking(1.0),
      m_dwSeekingCaps(AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                      AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetStopPos |
                      AM_SEEKING_CanGetDuration),
      m_pLock(pLock) {}

STDMETHODIMP CSourceSeeking::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CSourceSeeking::IsFormatSupported(const GUID* pFormat) {
    CheckPointer(pFormat, E_POINTER);
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::QueryPreferredFormat(GUID* pFormat) {
    CheckPointer(pFormat, E_POINTER);
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::SetTimeFormat(const GUID* pFormat) {
    CheckPointer(pFormat, E_POINTER);
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CSourceSeeking::IsUsingTimeFormat(const GUID* pFormat) {
    CheckPointer(pFormat, E_POINTER);
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::GetTimeFormat(GUID* pFormat) {
    CheckPointer(pFormat, E_POINTER);
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetDuration(LONGLONG* pDuration) {
    CheckPointer(pDuration, E_POINTER);
    CAutoLock lock(m_pLock);
    *pDuration = m_rtDuration;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetStopPosition(LONGLONG* pStop) {
    CheckPointer(pStop, E_POINTER);
    CAutoLock lock(m_pLock);
    *pStop = m_rtStop;
    return S_OK;
}

// The renderer knows the current position; a source does not.
STDMETHODIMP CSourceSeeking::GetCurrentPosition(LONGLONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CSourceSeeking::GetCapabilities(DWORD* pCapabilities) {
    CheckPointer(pCapabilities, E_POINTER);
    *pCapabilities = m_dwSeekingCaps;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::CheckCapabilities(DWORD* pCapabilities) {
    CheckPointer(pCapabilities, E_POINTER);
    DWORD wanted = *pCapabilities;
    *pCapabilities &= m_dwSeekingCaps;
    if (*pCapabilities == wanted) return S_OK;
    return *pCapabilities != 0 ? S_FALSE : E_FAIL;
}

STDMETHODIMP CSourceSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                               LONGLONG Source, const GUID* pSourceFormat) {
    CheckPointer(pTarget, E_POINTER);
    // Only one format: a null format means the current one, which is media time.
    bool targetOk = pTargetFormat == nullptr || *pTargetFormat == TIME_FORMAT_MEDIA_TIME;
    bool sourceOk = pSourceFormat == nullptr || *pSourceFormat == TIME_FORMAT_MEDIA_TIME;
    if (!targetOk || !sourceOk) return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::SetPositions(LONGLONG* pCurrent, DWORD CurrentFlags, LONGLONG* pStop,
                                          DWORD StopFlags) {
    DWORD StopPosBits = StopFlags & AM_SEEKING_PositioningBitsMask;
    DWORD StartPosBits = CurrentFlags & AM_SEEKING_PositioningBitsMask;
    if (StopFlags) {
        CheckPointer(pStop, E_POINTER);
        if (StopPosBits != StopFlags) return E_INVALIDARG;
    }
    if (CurrentFlags) {
        CheckPointer(pCurrent, E_POINTER);
        if (StartPosBits != AM_SEEKING_AbsolutePositioning &&
            StartPosBits != AM_SEEKING_RelativePositioning)
            return E_INVALIDARG;
    }
    {
        CAutoLock lock(m_pLock);
        if (StartPosBits == AM_SEEKING_AbsolutePositioning)
            m_rtStart = *pCurrent;
        else if (StartPosBits == AM_SEEKING_RelativePositioning)
            m_rtStart += *pCurrent;

        if (StopPosBits == AM_SEEKING_AbsolutePositioning)
            m_rtStop = *pStop;
        else if (StopPosBits == AM_SEEKING_IncrementalPositioning)
            m_rtStop = m_rtStart + *pStop;
        else if (StopPosBits == AM_SEEKING_RelativePositioning)
            m_rtStop = m_rtStop + *pStop;
    }
    HRESULT hr = S_OK;
    if (SUCCEEDED(hr) && StopPosBits) hr = ChangeStop();
    if (StartPosBits) hr = ChangeStart();
    return hr;
}

STDMETHODIMP CSourceSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    CAutoLock lock(m_pLock);
    if (pCurrent != nullptr) *pCurrent = m_rtStart;
    if (pStop != nullptr) *pStop = m_rtStop;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    CAutoLock lock(m_pLock);
    if (pEarliest != nullptr) *pEarliest = 0;
    if (pLatest != nullptr) *pLatest = m_rtDuration;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::SetRate(double dRate) {
    {
        CAutoLock lock(m_pLock);
        m_dRateSeeking = dRate;
    }
    return ChangeRate();
}

STDMETHODIMP CSourceSeeking::GetRate(double* pdRate) {
    CheckPointer(pdRate, E_POINTER);
    CAutoLock lock(m_pLock);
    *pdRate = m_dRateSeeking;
    return S_OK;
}

STDMETHODIMP CSourceSeeking::GetPreroll(LONGLONG* pPreroll) {
    CheckPointer(pPreroll, E_POINTER);
    *pPreroll = 0;
    return S_OK;
}
