// The two filter modules as a host loads them: class objects, unload rules, the data they
// register and the regsvr tool.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "dshow/runtime.h"
#include "filtermodule/module_ids.h"
#include "support/temp_registry.h"

using avs::com::ComPtr;
using avs::test::TempRegistry;

namespace {

const std::string kBin = AVS_BIN_DIR;

struct Module {
    explicit Module(const std::string& name) {
        handle = ::dlopen((kBin + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(nullptr, handle) << ::dlerror();
        if (handle == nullptr) return;
        get = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
        can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(::dlsym(handle, "DllCanUnloadNow"));
        reg = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
        unreg = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllUnregisterServer"));
    }
    ~Module() {
        if (handle != nullptr) ::dlclose(handle);
    }
    void* handle = nullptr;
    LPFNGETCLASSOBJECT get = nullptr;
    LPFNCANUNLOADNOW can_unload = nullptr;
    HRESULT (*reg)() = nullptr;
    HRESULT (*unreg)() = nullptr;
};

int CountOccurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

std::string Shell(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    char buf[512];
    while (p != nullptr && std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    *status = p ? ::pclose(p) : -1;
    return out;
}

}  // namespace

TEST(FilterModuleTest, ExportsOnlyTheFourEntryPoints) {
    for (const char* name : {"BranwickSource.so", "Tallowmere.so"}) {
        SCOPED_TRACE(name);
        Module m(name);
        ASSERT_NE(nullptr, m.handle);
        EXPECT_NE(nullptr, m.get);
        EXPECT_NE(nullptr, m.can_unload);
        EXPECT_NE(nullptr, m.reg);
        EXPECT_NE(nullptr, m.unreg);
        EXPECT_EQ(nullptr, ::dlsym(m.handle, "AMovieDllRegisterServer2"));
        EXPECT_EQ(nullptr, ::dlsym(m.handle, "g_Templates"));
    }
}

TEST(FilterModuleTest, ClassObjectsOnlyForTheModulesOwnClass) {
    struct {
        const char* file;
        CLSID own, other;
    } cases[] = {{"BranwickSource.so", CLSID_BranwickSource, CLSID_Tallowmere},
                 {"Tallowmere.so", CLSID_Tallowmere, CLSID_BranwickSource}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Module m(c.file);
        ASSERT_NE(nullptr, m.get);
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m.get(c.other, IID_IClassFactory, &p));
        EXPECT_EQ(nullptr, p);
        EXPECT_EQ(E_NOINTERFACE, m.get(c.own, IID_IBaseFilter, &p));
        // The interface is checked before the class.
        EXPECT_EQ(E_NOINTERFACE, m.get(c.other, IID_IBaseFilter, &p));
        IClassFactory* f = nullptr;
        ASSERT_EQ(S_OK, m.get(c.own, IID_IClassFactory, reinterpret_cast<void**>(&f)));
        ASSERT_NE(nullptr, f);
        IUnknown* u = nullptr;
        ASSERT_EQ(S_OK, m.get(c.own, IID_IUnknown, reinterpret_cast<void**>(&u)));
        u->Release();

        // Until the filter is built in, creation refuses; afterwards it gives a filter.
        IBaseFilter* filter = nullptr;
        HRESULT hr = f->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        if (hr == E_NOTIMPL) {
            EXPECT_EQ(nullptr, filter);
        } else {
            ASSERT_EQ(S_OK, hr);
            ASSERT_NE(nullptr, filter);
            CLSID id = GUID_NULL;
            filter->GetClassID(&id);
            EXPECT_EQ(c.own, id);
            EXPECT_EQ(S_FALSE, m.can_unload());
            filter->Release();
        }
        // Aggregation asks for IUnknown only.
        EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&filter)));

        // Unload rules: a live factory or a lock keeps the module.
        EXPECT_EQ(S_FALSE, m.can_unload());
        EXPECT_EQ(S_OK, f->LockServer(TRUE));
        f->Release();
        EXPECT_EQ(S_FALSE, m.can_unload());
        // LockServer needs the factory; take a fresh one to unlock.
        ASSERT_EQ(S_OK, m.get(c.own, IID_IClassFactory, reinterpret_cast<void**>(&f)));
        EXPECT_EQ(S_OK, f->LockServer(FALSE));
        f->Release();
        EXPECT_EQ(S_OK, m.can_unload());
    }
}

TEST(FilterModuleTest, RegistersTheFilterDataAndUnregistersCleanly) {
    TempRegistry reg;
    Module b("BranwickSource.so"), t("Tallowmere.so");
    ASSERT_NE(nullptr, b.reg);
    ASSERT_NE(nullptr, t.reg);
    ASSERT_EQ(S_OK, b.reg());
    std::string once = reg.Text();
    ASSERT_EQ(S_OK, b.reg());
    EXPECT_EQ(once, reg.Text());  // registering twice leaves one set of keys
    ASSERT_EQ(S_OK, t.reg());

    avs::com::RegistryStore store;
    std::string key = avs::com::ClsidKeyPath(CLSID_BranwickSource);
    EXPECT_EQ("Demmerly", store.GetValue(key, "").value_or(""));
    EXPECT_EQ(kBin + "/BranwickSource.so",
              store.GetValue(key + "\\InprocServer32", "").value_or(""));
    EXPECT_EQ("Both", store.GetValue(key + "\\InprocServer32", "ThreadingModel").value_or(""));
    EXPECT_EQ("Tallowmere",
              store.GetValue(avs::com::ClsidKeyPath(CLSID_Tallowmere), "").value_or(""));

    auto filters = avs::dshow::EnumerateRegisteredFilters();
    ASSERT_EQ(2u, filters.size());
    const auto& bs = filters[0];
    const auto& tm = filters[1];
    EXPECT_EQ(CLSID_BranwickSource, bs.clsid);
    EXPECT_EQ(L"Demmerly", bs.name);
    EXPECT_EQ(0x00800002u, bs.merit);
    ASSERT_EQ(3u, bs.pins.size());
    const wchar_t* names[] = {L"Stream Input", L"Audio Output", L"Video Output"};
    const GUID majors[] = {GUID_NULL, MEDIATYPE_Audio, MEDIATYPE_Video};
    const GUID subs[] = {GUID_NULL, MEDIASUBTYPE_MPEG1AudioPayload, MEDIASUBTYPE_AVS2};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(names[i], bs.pins[i].name);
        EXPECT_FALSE(bs.pins[i].rendered);
        EXPECT_EQ(i > 0, bs.pins[i].output);
        EXPECT_EQ(i > 0, bs.pins[i].zero);
        EXPECT_FALSE(bs.pins[i].many);
        ASSERT_EQ(1u, bs.pins[i].types.size());
        EXPECT_EQ(majors[i], bs.pins[i].types[0].major);
        EXPECT_EQ(subs[i], bs.pins[i].types[0].sub);
    }
    EXPECT_EQ(CLSID_Tallowmere, tm.clsid);
    EXPECT_EQ(L"Tallowmere", tm.name);
    EXPECT_EQ(0x00800000u, tm.merit);
    ASSERT_EQ(2u, tm.pins.size());
    EXPECT_EQ(L"Audio Output", tm.pins[0].name);
    EXPECT_EQ(MEDIASUBTYPE_MPEG1AudioPayload, tm.pins[0].types.at(0).sub);
    EXPECT_EQ(L"Video Output", tm.pins[1].name);
    EXPECT_EQ(MEDIASUBTYPE_TallowmereVideo, tm.pins[1].types.at(0).sub);
    EXPECT_TRUE(tm.pins[1].output && tm.pins[1].zero && !tm.pins[1].many && !tm.pins[1].rendered);

    // Unregistering removes the class keys and the mapper entry, and only this module's.
    ASSERT_EQ(S_OK, b.unreg());
    std::string text = reg.Text();
    EXPECT_EQ(0, CountOccurrences(text, "6BB6D49B-9860-405C-918F-0BBC19761123"));
    EXPECT_EQ(2, CountOccurrences(
                     text, "[HKEY_CLASSES_ROOT\\CLSID\\{BE3997EB-2911-493A-B307-06CC09A43034}"));
    EXPECT_EQ(1u, avs::dshow::EnumerateRegisteredFilters().size());
    EXPECT_EQ(S_OK, b.unreg());  // unregistering again is not an error
    ASSERT_EQ(S_OK, t.unreg());
    EXPECT_TRUE(avs::dshow::EnumerateRegisteredFilters().empty());
    EXPECT_EQ(std::string::npos, reg.Text().find("CLSID\\{"));
}

TEST(FilterModuleTest, RegsvrRegistersAndUnregistersWithOneLine) {
    TempRegistry reg;
    int status = 0;
    std::string out = Shell(kBin + "/regsvr " + kBin + "/Tallowmere.so", &status);
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
    EXPECT_EQ(1, CountOccurrences(out, "\n"));
    EXPECT_NE(std::string::npos, out.find("DllRegisterServer in"));
    EXPECT_NE(std::string::npos, out.find("succeeded"));
    EXPECT_EQ(1u, avs::dshow::EnumerateRegisteredFilters().size());
    out = Shell(kBin + "/regsvr -u " + kBin + "/Tallowmere.so", &status);
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
    EXPECT_TRUE(avs::dshow::EnumerateRegisteredFilters().empty());
    out = Shell(kBin + "/regsvr " + reg.Dir() + "/none.so", &status);
    EXPECT_EQ(3, WEXITSTATUS(status));
    EXPECT_EQ(1, CountOccurrences(out, "\n"));
    out = Shell(kBin + "/regsvr", &status);
    EXPECT_EQ(1, WEXITSTATUS(status));
}
