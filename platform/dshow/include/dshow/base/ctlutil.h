// CSourceSeeking: IMediaSeeking for a source pin, holding start, stop, duration and rate
// and telling the derived class when they change.
#pragma once

#include "dshow/base/combase.h"
#include "dshow/base/wxutil.h"
#include "dshow/uuids.h"

class CSourceSeeking : public IMediaSeeking, public CUnknown {
  public:
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD CurrentFlags, LONGLONG* pStop,
                              DWORD StopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pPreroll) override;

  protected:
    CSourceSeeking(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CCritSec* pLock);

    // Called after SetPositions or SetRate stored the new values, without the lock held.
    virtual HRESULT ChangeStart() = 0;
    virtual HRESULT ChangeStop() = 0;
    virtual HRESULT ChangeRate() = 0;

    REFERENCE_TIME m_rtDuration;
    REFERENCE_TIME m_rtStart;
    REFERENCE_TIME m_rtStop;
    double m_dRateSeeking;
    DWORD m_dwSeekingCaps;
    CCritSec* m_pLock;
};

// IAMMediaContent for a source that knows only its title: the IDispatch methods and every
// other property answer E_NOTIMPL. The deriving filter supplies get_Title and IUnknown.
class CTitleOnlyMediaContent : public IAMMediaContent {
  public:
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_AuthorName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Rating(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Description(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Copyright(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_BaseURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LogoURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_LogoIconURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_WatermarkURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_MoreInfoURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_MoreInfoBannerImage(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_MoreInfoBannerURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_MoreInfoText(BSTR*) override { return E_NOTIMPL; }
};
