// Object creation by class identifier, as COM does it: a class built into this process,
// else the module named by the registry's CLSID\{clsid}\InprocServer32, loaded with dlopen,
// asked for its class factory through DllGetClassObject.
#pragma once

#include <string>

#include "com/unknown.h"

enum CLSCTX : DWORD {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_ALL = 0x17,
};
enum COINIT : DWORD {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
};

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
void CoUninitialize();
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID reserved, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid, LPVOID* ppv);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace avs::com {

// Creates an instance of a class built into the process (aggregated when outer is set).
using BuiltinCreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// Makes a class creatable by CoCreateInstance without any registry entry. Later
// registrations of the same class identifier replace earlier ones.
void RegisterBuiltinClass(const CLSID& clsid, BuiltinCreateFn create);
bool IsBuiltinClass(const CLSID& clsid);

// Number of modules loaded by the runtime and not yet unloaded.
size_t LoadedModuleCount();

}  // namespace avs::com

namespace avs::com {
// "HKEY_CLASSES_ROOT\CLSID\{...}", the key of a class in the registry store.
std::string ClsidKeyPath(const CLSID& clsid);
}  // namespace avs::com
