// The module side of a filter module: its template table (defined by the module), the
// registration routine and the entry points.
#pragma once

#include "dshow/base/combase.h"

// Defined by each filter module.
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// Registers (TRUE) or unregisters (FALSE) every template's class and filter.
STDAPI AMovieDllRegisterServer2(BOOL bRegister);

#ifndef _WIN32
// Windows has these in winnt.h.
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;
#endif

// The base classes' part of process attach and detach.
extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID pv);

// The class factory of the module's templates.
STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv);
STDAPI DllCanUnloadNow();

class CClassFactory : public IClassFactory, public CBaseObject {
  public:
    explicit CClassFactory(const CFactoryTemplate*);
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;
    static BOOL IsLocked() { return m_cLocked.load() > 0; }

  private:
    const CFactoryTemplate* const m_pTemplate;
    std::atomic<ULONG> m_cRef{0};
    static std::atomic<int> m_cLocked;
};

extern HINSTANCE g_hInst;
