#include "regsvr.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "com/objbase.h"

namespace avs::regsvr {

Result Run(const std::string& module_path, bool unregister) {
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // The module registers the path it was loaded from, so load it by its full path.
    char resolved[PATH_MAX];
    if (::realpath(module_path.c_str(), resolved) == nullptr)
        return {3, "Cannot load module \"" + module_path + "\": no such file"};
    void* handle = ::dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* err = ::dlerror();
        return {3, "Cannot load module \"" + module_path + "\": " + (err ? err : "unknown error")};
    }
    auto fn = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, entry));
    if (fn == nullptr) {
        ::dlclose(handle);
        return {4, module_path + " was loaded, but the " + entry + " entry point was not found."};
    }
    HRESULT hr = fn();
    ::dlclose(handle);
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
        return {5, std::string(entry) + " in " + module_path + " failed. Return code was: " + code};
    }
    return {0, std::string(entry) + " in " + module_path +
                   " succeeded (registry: " + avs::com::RegistryStore::DefaultPath() + ")."};
}

}  // namespace avs::regsvr
