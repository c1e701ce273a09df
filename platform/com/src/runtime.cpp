#include "com/runtime.h"

#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>

#include "com/registry.h"
#include "sync/forever.h"
#include "sync/sync.h"

namespace avs::com {
namespace {

struct LoadedModule {
    void* handle = nullptr;
    LPFNGETCLASSOBJECT get_class_object = nullptr;
    LPFNCANUNLOADNOW can_unload_now = nullptr;
};

struct RuntimeState {
    std::mutex mutex;
    std::map<std::string, LoadedModule> modules;  // by module path
    std::map<CLSID, BuiltinCreateFn> builtins;
};

RuntimeState& State() {
    static RuntimeState* state = avs::Forever(new RuntimeState);
    return *state;
}

// Class factory over a built-in creation function.
class BuiltinFactory final : public IClassFactory {
  public:
    explicit BuiltinFactory(BuiltinCreateFn fn) : fn_(fn) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        return fn_(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  private:
    ~BuiltinFactory() = default;
    BuiltinCreateFn fn_;
    std::atomic<ULONG> refs_{1};
};

BuiltinCreateFn FindBuiltin(const CLSID& clsid) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.builtins.find(clsid);
    return it == s.builtins.end() ? nullptr : it->second;
}

// Loads (or finds loaded) the module that serves `clsid`.
HRESULT ModuleFor(const CLSID& clsid, LoadedModule* out) {
    RegistryStore store;
    auto path = store.GetValue(ClsidKeyPath(clsid) + "\\InprocServer32", "");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.modules.find(*path);
    if (it != s.modules.end()) {
        *out = it->second;
        return S_OK;
    }
    void* handle = ::dlopen(path->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* err = ::dlerror();
        AvsTrace("CoGetClassObject: cannot load %s: %s", path->c_str(), err ? err : "?");
        return CO_E_DLLNOTFOUND;
    }
    LoadedModule m;
    m.handle = handle;
    m.get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
    m.can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
    if (m.get_class_object == nullptr) {
        AvsTrace("CoGetClassObject: %s has no DllGetClassObject", path->c_str());
        ::dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    s.modules[*path] = m;
    *out = m;
    return S_OK;
}

}  // namespace

std::string ClsidKeyPath(const CLSID& clsid) {
    return "HKEY_CLASSES_ROOT\\CLSID\\" + GuidToString(clsid);
}

void RegisterBuiltinClass(const CLSID& clsid, BuiltinCreateFn create) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.builtins[clsid] = create;
}

bool IsBuiltinClass(const CLSID& clsid) {
    return FindBuiltin(clsid) != nullptr;
}

size_t LoadedModuleCount() {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.modules.size();
}

}  // namespace avs::com

using namespace avs::com;

HRESULT CoInitialize(LPVOID) {
    return S_OK;
}
HRESULT CoInitializeEx(LPVOID, DWORD) {
    return S_OK;
}
void CoUninitialize() {}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD, LPVOID, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (BuiltinCreateFn fn = FindBuiltin(rclsid)) {
        auto* f = new BuiltinFactory(fn);
        HRESULT hr = f->QueryInterface(riid, ppv);
        f->Release();
        return hr;
    }
    LoadedModule m;
    HRESULT hr = ModuleFor(rclsid, &m);
    if (FAILED(hr)) return hr;
    return m.get_class_object(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    if (BuiltinCreateFn fn = FindBuiltin(rclsid)) return fn(outer, riid, ppv);
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, clsctx, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.modules.begin(); it != s.modules.end();) {
        LoadedModule& m = it->second;
        if (m.can_unload_now != nullptr && m.can_unload_now() == S_OK) {
            ::dlclose(m.handle);
            it = s.modules.erase(it);
        } else {
            ++it;
        }
    }
}
