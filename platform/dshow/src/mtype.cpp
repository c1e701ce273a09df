#include "dshow/base/mtype.h"

#include <cstring>

CMediaType::CMediaType() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* type) {
    InitMediaType();
    majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) {
    InitMediaType();
    HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr) && phr != nullptr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : AM_MEDIA_TYPE() {
    InitMediaType();
    HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr) && phr != nullptr) *phr = hr;
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const CMediaType& rt) {
    Set(rt);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    Set(rt);
    return *this;
}

BOOL CMediaType::operator==(const CMediaType& rt) const {
    return majortype == rt.majortype && subtype == rt.subtype && formattype == rt.formattype &&
           cbFormat == rt.cbFormat &&
           (cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& rt) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(rt));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == this) return S_OK;
    FreeMediaType(*this);
    HRESULT hr = CopyMediaType(this, &rt);
    return FAILED(hr) ? E_OUTOFMEMORY : S_OK;
}

void CMediaType::SetSampleSize(ULONG sz) {
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

BOOL CMediaType::SetFormat(BYTE* pformat, ULONG length) {
    if (length > 0 && AllocFormatBuffer(length) == nullptr) return FALSE;
    if (length > 0) std::memcpy(pbFormat, pformat, length);
    if (length == 0) ResetFormatBuffer();
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    if (cbFormat != 0) CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (cbFormat == length) return pbFormat;
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (p == nullptr) return nullptr;
    if (cbFormat != 0) CoTaskMemFree(pbFormat);
    cbFormat = length;
    pbFormat = p;
    return p;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (p == nullptr) return nullptr;
    if (cbFormat != 0) {
        std::memcpy(p, pbFormat, cbFormat < length ? cbFormat : length);
        CoTaskMemFree(pbFormat);
    }
    cbFormat = length;
    pbFormat = p;
    return p;
}

void CMediaType::InitMediaType() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::MatchesPartial(const CMediaType* pp) const {
    if (pp->majortype != GUID_NULL && majortype != pp->majortype) return FALSE;
    if (pp->subtype != GUID_NULL && subtype != pp->subtype) return FALSE;
    if (pp->formattype != GUID_NULL) {
        if (formattype != pp->formattype || cbFormat != pp->cbFormat) return FALSE;
        if (cbFormat != 0 && std::memcmp(pbFormat, pp->pbFormat, cbFormat) != 0) return FALSE;
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (pmtTarget->pbFormat == nullptr) {
            pmtTarget->cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
    } else {
        pmtTarget->pbFormat = nullptr;
    }
    if (pmtTarget->pUnk != nullptr) pmtTarget->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    auto* p = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (p == nullptr) return nullptr;
    if (FAILED(CopyMediaType(p, pSrc))) {
        CoTaskMemFree(p);
        return nullptr;
    }
    return p;
}
