// Registration of a module's templates: the COM class keys in the registry store and the
// filter records through the filter mapper.
#include "dshow/base/dllsetup.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#endif

#include "dshow/streams.h"

namespace {

#ifdef _WIN32

// The module's own file, from the instance handle the loader gave DllMain.
std::string ModulePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(static_cast<HMODULE>(g_hInst), buf.data(),
                                     static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return avs::com::Narrow(std::wstring_view(buf.data(), n));
        buf.resize(buf.size() * 2);  // truncated: try a larger buffer
    }
}

std::wstring ClsidKey(const CLSID& clsid) {
    WCHAR text[40];
    if (StringFromGUID2(clsid, text, 40) == 0) return {};
    return std::wstring(L"CLSID\\") + text;
}

HRESULT SetString(HKEY root, const std::wstring& key, const WCHAR* name,
                  const std::wstring& value) {
    HKEY k = nullptr;
    LONG err = RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE, nullptr, &k, nullptr);
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    err = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(k);
    return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(err);
}

HRESULT RegisterClassKeys(const CFactoryTemplate& t, const std::string& path) {
    std::wstring key = ClsidKey(*t.m_ClsID);
    if (key.empty()) return E_FAIL;
    std::wstring server = key + L"\\InprocServer32";
    HRESULT hr = SetString(HKEY_CLASSES_ROOT, key, nullptr, t.m_Name ? t.m_Name : L"");
    if (SUCCEEDED(hr)) hr = SetString(HKEY_CLASSES_ROOT, server, nullptr, avs::com::Widen(path));
    if (SUCCEEDED(hr)) hr = SetString(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Both");
    return hr;
}

HRESULT UnregisterClassKeys(const CFactoryTemplate& t) {
    std::wstring key = ClsidKey(*t.m_ClsID);
    if (key.empty()) return E_FAIL;
    LONG err = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    // A key that is already gone is fine.
    return err == ERROR_SUCCESS || err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
}

const HRESULT kFilterNotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The old mapper, for systems without IFilterMapper2: the filter, then each pin and type.
HRESULT SetupFilterOldMapper(IFilterMapper* mapper, const CFactoryTemplate& t, BOOL bRegister) {
    const AMOVIESETUP_FILTER* setup = t.m_pAMovieSetup_Filter;
    if (setup == nullptr) return S_OK;
    if (!bRegister) {
        HRESULT hr = mapper->UnregisterFilter(*setup->clsID);
        return hr == kFilterNotRegistered ? S_OK : hr;
    }
    HRESULT hr = mapper->RegisterFilter(*setup->clsID, t.m_Name, setup->dwMerit);
    for (UINT p = 0; p < setup->nPins && SUCCEEDED(hr); ++p) {
        const AMOVIESETUP_PIN& pin = setup->lpPin[p];
        hr = mapper->RegisterPin(
            *setup->clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
            pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : CLSID_NULL, pin.strConnectsToPin);
        for (UINT m = 0; m < pin.nMediaTypes && SUCCEEDED(hr); ++m)
            hr = mapper->RegisterPinType(*setup->clsID, pin.strName,
                                         *pin.lpMediaType[m].clsMajorType,
                                         *pin.lpMediaType[m].clsMinorType);
    }
    return hr;
}

#else

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

const HRESULT kFilterNotRegistered = HRESULT_FILE_NOT_FOUND;

#endif  // _WIN32

HRESULT SetupFilter(IFilterMapper2* mapper, const CFactoryTemplate& t, BOOL bRegister) {
    const AMOVIESETUP_FILTER* setup = t.m_pAMovieSetup_Filter;
    if (setup == nullptr) return S_OK;
    // Every filter goes into the default DirectShow filter category.
    const CLSID* category = &CLSID_LegacyAmFilterCategory;
    if (!bRegister) {
        HRESULT hr = mapper->UnregisterFilter(category, nullptr, *setup->clsID);
        // A filter that was not registered is not an error when unregistering.
        return hr == kFilterNotRegistered ? S_OK : hr;
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
    // COM may already be running on this thread (in another mode, even); only a
    // successful start here is undone here.
    HRESULT init = CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
            hr = SetupFilter(mapper, g_Templates[i], bRegister);
        mapper->Release();
    }
#ifdef _WIN32
    else {
        IFilterMapper* old = nullptr;
        hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                              reinterpret_cast<void**>(&old));
        if (SUCCEEDED(hr)) {
            for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
                hr = SetupFilterOldMapper(old, g_Templates[i], bRegister);
            old->Release();
        }
    }
#endif
    CoFreeUnusedLibraries();
    if (SUCCEEDED(init)) CoUninitialize();
    if (FAILED(hr)) return hr;
    if (!bRegister) {
        for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
            hr = UnregisterClassKeys(g_Templates[i]);
    }
    return hr;
}
