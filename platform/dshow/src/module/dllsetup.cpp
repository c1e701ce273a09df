// Registration of a module's templates: the COM class keys in the registry store and the
// filter records through the filter mapper.
#include "dshow/base/dllsetup.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "dshow/streams.h"

namespace {

// The module's own file, found from an address inside it.
std::string ModulePath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&AMovieDllRegisterServer2), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

HRESULT RegisterClassKeys(const CFactoryTemplate& t, const std::string& path) {
    std::string key = avs::com::ClsidKeyPath(*t.m_ClsID);
    std::string name = avs::com::Narrow(t.m_Name ? t.m_Name : L"");
    avs::com::RegistryStore store;
    HRESULT hr = store.Update([&](avs::com::RegistryTree& tree) {
        tree[key][""] = name;
        tree[key + "\\InprocServer32"][""] = path;
        tree[key + "\\InprocServer32"]["ThreadingModel"] = "Both";
        return true;
    });
    return hr == S_FALSE ? S_OK : hr;
}

HRESULT UnregisterClassKeys(const CFactoryTemplate& t) {
    avs::com::RegistryStore store;
    HRESULT hr = store.DeleteTree(avs::com::ClsidKeyPath(*t.m_ClsID));
    return FAILED(hr) ? hr : S_OK;  // a key that is already gone is fine
}

HRESULT SetupFilter(IFilterMapper2* mapper, const CFactoryTemplate& t, BOOL bRegister) {
    const AMOVIESETUP_FILTER* setup = t.m_pAMovieSetup_Filter;
    if (setup == nullptr) return S_OK;
    // Every filter goes into the default DirectShow filter category.
    const CLSID* category = &CLSID_LegacyAmFilterCategory;
    if (!bRegister) {
        HRESULT hr = mapper->UnregisterFilter(category, nullptr, *setup->clsID);
        // A filter that was not registered is not an error when unregistering.
        return hr == HRESULT_FILE_NOT_FOUND ? S_OK : hr;
    }
    REGFILTER2 rf2{};
    rf2.dwVersion = 1;
    rf2.dwMerit = setup->dwMerit;
    rf2.cPins = setup->nPins;
    rf2.rgPins = setup->lpPin;
    return mapper->RegisterFilter(*setup->clsID, t.m_Name, nullptr, category, nullptr, &rf2);
}

}  // namespace

STDAPI AMovieDllRegisterServer2(BOOL bRegister) {
    std::string path = ModulePath();
    if (path.empty()) return E_FAIL;
    HRESULT hr = S_OK;
    if (bRegister) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
            hr = RegisterClassKeys(g_Templates[i], path);
        if (FAILED(hr)) return hr;
    }
    CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
            hr = SetupFilter(mapper, g_Templates[i], bRegister);
        mapper->Release();
    }
    CoFreeUnusedLibraries();
    CoUninitialize();
    if (FAILED(hr)) return hr;
    if (!bRegister) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
            hr = UnregisterClassKeys(g_Templates[i]);
    }
    return hr;
}
