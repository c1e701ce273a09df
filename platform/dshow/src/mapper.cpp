// The filter mapper: filter registrations kept in the registry store, under
// CLSID\{category}\Instance\{filter}, with one sub-key per pin and media type.
#include <algorithm>
#include <cstdio>

#include "dshow/runtime.h"

namespace avs::dshow {
namespace {

using avs::com::ClsidKeyPath;
using avs::com::GuidToString;
using avs::com::RegistryTree;

std::string InstanceKey(const CLSID& category, const std::string& instance) {
    return ClsidKeyPath(category) + "\\Instance\\" + instance;
}

std::string Flag(BOOL b) {
    return b ? "1" : "0";
}

std::string Hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string Index(size_t i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04zu", i);
    return buf;
}

void EraseTree(RegistryTree& t, const std::string& key) {
    std::string prefix = key + "\\";
    avs::com::CaseInsensitiveLess less;
    for (auto it = t.begin(); it != t.end();) {
        const std::string& k = it->first;
        bool same = !less(k, key) && !less(key, k);
        bool below = k.size() > prefix.size() && !less(k.substr(0, prefix.size()), prefix) &&
                     !less(prefix, k.substr(0, prefix.size()));
        it = (same || below) ? t.erase(it) : std::next(it);
    }
}

class FilterMapper final : public CUnknown, public IFilterMapper2 {
  public:
    explicit FilterMapper(LPUNKNOWN outer) : CUnknown(TEXT("filter mapper"), outer) {}
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IFilterMapper2)
            return GetInterface(static_cast<IFilterMapper2*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    STDMETHODIMP CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override {
        avs::com::RegistryStore store;
        std::string key = ClsidKeyPath(category);
        std::string desc = description ? avs::com::Narrow(description) : "";
        return Result(store.Update([&](RegistryTree& t) {
            t[key]["FriendlyName"] = desc;
            t[key]["Merit"] = Hex(merit);
            return true;
        }));
    }

    STDMETHODIMP UnregisterFilter(const CLSID* category, LPCOLESTR instance,
                                  REFCLSID filter) override {
        const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
        std::string inst = instance ? avs::com::Narrow(instance) : GuidToString(filter);
        avs::com::RegistryStore store;
        HRESULT hr = store.DeleteTree(InstanceKey(cat, inst));
        if (FAILED(hr)) return hr;
        return hr == S_OK ? S_OK : HRESULT_FILE_NOT_FOUND;
    }

    STDMETHODIMP RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** ppMoniker,
                                const CLSID* category, LPCOLESTR instance,
                                const REGFILTER2* prf2) override {
        CheckPointer(prf2, E_POINTER);
        if (ppMoniker != nullptr) *ppMoniker = nullptr;  // no monikers on this platform
        if (prf2->dwVersion != 1) return E_NOTIMPL;
        if (prf2->cPins > 0 && prf2->rgPins == nullptr) return E_POINTER;
        const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
        std::string inst = instance ? avs::com::Narrow(instance) : GuidToString(filter);
        std::string key = InstanceKey(cat, inst);
        std::string friendly = name ? avs::com::Narrow(name) : "";
        avs::com::RegistryStore store;
        return Result(store.Update([&](RegistryTree& t) {
            // A new registration replaces the old one whole, so pins never pile up.
            EraseTree(t, key);
            auto& v = t[key];
            v["CLSID"] = GuidToString(filter);
            v["FriendlyName"] = friendly;
            v["Merit"] = Hex(prf2->dwMerit);
            for (ULONG p = 0; p < prf2->cPins; ++p) {
                const REGFILTERPINS& pin = prf2->rgPins[p];
                std::string pk = key + "\\Pins\\" + Index(p);
                auto& pv = t[pk];
                pv["Name"] = pin.strName ? avs::com::Narrow(pin.strName) : "";
                pv["Rendered"] = Flag(pin.bRendered);
                pv["Output"] = Flag(pin.bOutput);
                pv["ZeroAllowed"] = Flag(pin.bZero);
                pv["Many"] = Flag(pin.bMany);
                pv["ConnectsToFilter"] =
                    GuidToString(pin.clsConnectsToFilter ? *pin.clsConnectsToFilter : GUID_NULL);
                pv["ConnectsToPin"] =
                    pin.strConnectsToPin ? avs::com::Narrow(pin.strConnectsToPin) : "";
                for (UINT m = 0; m < pin.nMediaTypes && pin.lpMediaType != nullptr; ++m) {
                    const REGPINTYPES& ty = pin.lpMediaType[m];
                    auto& tv = t[pk + "\\Types\\" + Index(m)];
                    tv["MajorType"] = GuidToString(ty.clsMajorType ? *ty.clsMajorType : GUID_NULL);
                    tv["SubType"] = GuidToString(ty.clsMinorType ? *ty.clsMinorType : GUID_NULL);
                }
            }
            return true;
        }));
    }

    STDMETHODIMP EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD, BOOL, DWORD, BOOL, DWORD,
                                     const GUID*, const REGPINMEDIUM*, const CLSID*, BOOL, BOOL,
                                     DWORD, const GUID*, const REGPINMEDIUM*,
                                     const CLSID*) override {
        // Monikers do not exist here; EnumerateRegisteredFilters gives the same list.
        if (ppEnum != nullptr) *ppEnum = nullptr;
        return E_NOTIMPL;
    }

  private:
    static HRESULT Result(HRESULT hr) { return hr == S_FALSE ? S_OK : hr; }
};

GUID GuidValue(const avs::com::RegistryValues& v, const char* name) {
    auto it = v.find(name);
    if (it == v.end()) return GUID_NULL;
    return avs::com::ParseGuid(std::string_view(it->second)).value_or(GUID_NULL);
}

std::string TextValue(const avs::com::RegistryValues& v, const char* name) {
    auto it = v.find(name);
    return it == v.end() ? std::string() : it->second;
}

}  // namespace

HRESULT CreateFilterMapperInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return HandOutNewObject(new FilterMapper(outer), S_OK, riid, ppv);
}

std::vector<RegisteredFilter> EnumerateRegisteredFilters(const CLSID& category) {
    std::vector<RegisteredFilter> out;
    avs::com::RegistryStore store;
    RegistryTree t;
    if (FAILED(store.Read(&t))) return out;
    std::string base = ClsidKeyPath(category) + "\\Instance";
    for (const std::string& inst : avs::com::SubKeysOf(t, base)) {
        std::string key = base + "\\" + inst;
        auto it = t.find(key);
        if (it == t.end()) continue;
        RegisteredFilter f;
        f.clsid = GuidValue(it->second, "CLSID");
        if (f.clsid == GUID_NULL) continue;
        f.name = avs::com::Widen(TextValue(it->second, "FriendlyName"));
        f.merit =
            static_cast<DWORD>(std::strtoul(TextValue(it->second, "Merit").c_str(), nullptr, 0));
        for (const std::string& p : avs::com::SubKeysOf(t, key + "\\Pins")) {
            std::string pk = key + "\\Pins\\" + p;
            auto pit = t.find(pk);
            if (pit == t.end()) continue;
            RegisteredPin pin;
            pin.name = avs::com::Widen(TextValue(pit->second, "Name"));
            pin.rendered = TextValue(pit->second, "Rendered") == "1";
            pin.output = TextValue(pit->second, "Output") == "1";
            pin.zero = TextValue(pit->second, "ZeroAllowed") == "1";
            pin.many = TextValue(pit->second, "Many") == "1";
            for (const std::string& ty : avs::com::SubKeysOf(t, pk + "\\Types")) {
                auto tit = t.find(pk + "\\Types\\" + ty);
                if (tit == t.end()) continue;
                pin.types.push_back(
                    {GuidValue(tit->second, "MajorType"), GuidValue(tit->second, "SubType")});
            }
            f.pins.push_back(std::move(pin));
        }
        out.push_back(std::move(f));
    }
    std::stable_sort(
        out.begin(), out.end(),
        [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });
    return out;
}

}  // namespace avs::dshow
