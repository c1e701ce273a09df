// COM object base classes: object counting, the non-delegating IUnknown for aggregation,
// the class factory and the factory template table of a filter module.
#pragma once

#include <atomic>

#include "com/objbase.h"
#include "dshow/strmif.h"

// The inner IUnknown of an object that may be aggregated.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID, LPVOID*) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

  protected:
    ~INonDelegatingUnknown() = default;
};
using PNDUNKNOWN = INonDelegatingUnknown*;

// Counts the live objects of the module, for DllCanUnloadNow.
class CBaseObject {
  public:
    explicit CBaseObject(LPCTSTR pName);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    static LONG ObjectsActive() { return m_cObjects.load(); }

  private:
    static std::atomic<LONG> m_cObjects;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
  public:
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk);
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CUnknown() override = default;

    // The controlling unknown: the aggregate's outer object, or this object's own.
    LPUNKNOWN GetOwner() const { return m_pUnknown; }

    STDMETHODIMP NonDelegatingQueryInterface(REFIID, void**) override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  protected:
    std::atomic<LONG> m_cRef{0};

  private:
    // The inner unknown as a real IUnknown: its methods are the non-delegating ones.
    struct InnerUnknown final : public IUnknown {
        explicit InnerUnknown(CUnknown* o) : owner(o) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return owner->NonDelegatingQueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return owner->NonDelegatingAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return owner->NonDelegatingRelease(); }
        CUnknown* owner;
    };
    InnerUnknown m_inner{this};
    const LPUNKNOWN m_pUnknown;

  public:
    // The non-delegating IUnknown, handed to an aggregating outer object.
    LPUNKNOWN InnerIUnknown() { return &m_inner; }
};

// Hands out `pUnk` (already cast to the wanted interface) with one reference.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// Finishes the creation of an object by class: no object is out of memory, a
// failed constructor (`hr`) deletes it, otherwise the interface asked for is
// handed out and the creator's reference dropped, so that a failed query
// deletes the object too.
HRESULT HandOutNewObject(CUnknown* object, HRESULT hr, REFIID riid, void** ppv);

#define CheckPointer(p, ret)              \
    do {                                  \
        if ((p) == nullptr) return (ret); \
    } while (0)
#define ValidateReadPtr(p, cb) ((void)0)
#define ValidateWritePtr(p, cb) ((void)0)
#define ValidateReadWritePtr(p, cb) ((void)0)
#define ASSERT(x) ((void)0)
#define EXECUTE_ASSERT(x) ((void)(x))

// The outer IUnknown of a class derived from CUnknown: everything goes to the owner.
#define DECLARE_IUNKNOWN                                   \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) { \
        return GetOwner()->QueryInterface(riid, ppv);      \
    }                                                      \
    STDMETHODIMP_(ULONG) AddRef() {                        \
        return GetOwner()->AddRef();                       \
    }                                                      \
    STDMETHODIMP_(ULONG) Release() {                       \
        return GetOwner()->Release();                      \
    }

// Debug output in the base classes' style; goes to the trace hook.
enum { LOG_TIMING = 1, LOG_TRACE = 2, LOG_MEMORY = 4, LOG_LOCKING = 8, LOG_ERROR = 16 };
void DbgLogInfo(DWORD type, DWORD level, LPCTSTR format, ...) __attribute__((format(printf, 3, 4)));
#define DbgLog(args) DbgLogInfo args

// A module's table of creatable classes.
using LPFNNewCOMObject = CUnknown*(CALLBACK*)(LPUNKNOWN pUnkOuter, HRESULT* phr);
using LPFNInitRoutine = void(CALLBACK*)(BOOL bLoading, const CLSID* rclsid);

class CFactoryTemplate {
  public:
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID rclsid) const { return *m_ClsID == rclsid; }
    CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};
