#include "dshow/base/combase.h"

#include <cstdarg>
#include <cstdio>

#include "sync/sync.h"

std::atomic<LONG> CBaseObject::m_cObjects{0};

CBaseObject::CBaseObject(LPCTSTR) {
    m_cObjects.fetch_add(1);
}
CBaseObject::~CBaseObject() {
    m_cObjects.fetch_sub(1);
}

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk)
    : CBaseObject(pName), m_pUnknown(pUnk != nullptr ? pUnk : static_cast<LPUNKNOWN>(&m_inner)) {}

CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT*) : CUnknown(pName, pUnk) {}

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IUnknown) {
        GetInterface(&m_inner, ppv);
        return NOERROR;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
    LONG n = --m_cRef;
    if (n == 0) {
        // Guard against re-entry through an AddRef/Release pair in the destructor.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(n);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    *ppv = pUnk;
    pUnk->AddRef();
    return NOERROR;
}

HRESULT HandOutNewObject(CUnknown* object, HRESULT hr, REFIID riid, void** ppv) {
    if (ppv != nullptr) *ppv = nullptr;
    if (object == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr) || ppv == nullptr) {
        delete object;
        return FAILED(hr) ? hr : E_POINTER;
    }
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}

void DbgLogInfo(DWORD, DWORD, LPCTSTR format, ...) {
    if (!AvsTraceEnabled()) return;
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    AvsTrace("%s", buf);
}
