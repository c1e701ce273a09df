// The COM entry points of a filter module over its template table (compiled into each
// module, which defines g_Templates and g_cTemplates).
#include "dshow/base/dllsetup.h"
#include "dshow/streams.h"

HINSTANCE g_hInst = nullptr;
std::atomic<int> CClassFactory::m_cLocked{0};

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject(TEXT("class factory")), m_pTemplate(pTemplate) {}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return NOERROR;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
    return ++m_cRef;
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    ULONG n = --m_cRef;
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) {
    CheckPointer(pv, E_POINTER);
    *pv = nullptr;
    // An aggregate may only ask for the inner IUnknown.
    if (pUnkOuter != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = NOERROR;
    CUnknown* pObj = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    return HandOutNewObject(pObj, hr, riid, pv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        ++m_cLocked;
    else
        --m_cLocked;
    return NOERROR;
}

STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv) {
    CheckPointer(pv, E_POINTER);
    *pv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; ++i) {
        const CFactoryTemplate* t = &g_Templates[i];
        if (!t->IsClassID(rClsID)) continue;
        auto* factory = new (std::nothrow) CClassFactory(t);
        if (factory == nullptr) return E_OUTOFMEMORY;
        factory->AddRef();
        *pv = static_cast<IClassFactory*>(factory);
        return NOERROR;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return (CClassFactory::IsLocked() || CBaseObject::ObjectsActive() > 0) ? S_FALSE : S_OK;
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID) {
    switch (ulReason) {
        case DLL_PROCESS_ATTACH:
            g_hInst = hInstance;
            for (int i = 0; i < g_cTemplates; ++i)
                if (g_Templates[i].m_lpfnInit != nullptr)
                    g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
            break;
        case DLL_PROCESS_DETACH:
            for (int i = 0; i < g_cTemplates; ++i)
                if (g_Templates[i].m_lpfnInit != nullptr)
                    g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
            break;
        default:
            break;
    }
    return TRUE;
}
