// What both filter modules share: the registration exports and the process attach and
// detach routine.
#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "dshow/base/dllsetup.h"
#include "dshow/streams.h"

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}

namespace {

// There is no dialog framework to start (no MFC), and the socket layer starts Winsock
// itself on first use, once per module, so these always succeed. The failure branches
// below stay for a start-up that can fail.
bool FrameworkStartup() {
    return true;
}
bool SocketStartup() {
    return true;
}
void FrameworkShutdown() {}

}  // namespace

// C linkage: on Windows the run-time's start-up code calls it by that name.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            if (!FrameworkStartup()) {
                MessageBoxA(nullptr, "AfxWinInit failed!", nullptr, MB_OK);
                return FALSE;
            }
            if (!SocketStartup()) {
                MessageBoxA(nullptr, "AfxSocketInit failed!", nullptr, MB_OK);
                return FALSE;
            }
            break;
        case DLL_PROCESS_DETACH:
            FrameworkShutdown();
            break;
        default:
            break;
    }
    return DllEntryPoint(hInstance, reason, nullptr);
}

#ifndef _WIN32
namespace {

bool g_load_failed = false;

// The loader's calls that Windows makes to DllMain.
__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    ::dladdr(reinterpret_cast<void*>(&OnLoad), &info);
    g_load_failed = DllMain(info.dli_fbase, DLL_PROCESS_ATTACH, nullptr) == FALSE;
    if (g_load_failed) AvsTrace("filter module: process attach failed");
}

__attribute__((destructor)) void OnUnload() {
    if (!g_load_failed) DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
#endif  // !_WIN32
