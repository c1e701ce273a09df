// SampleGrabberFilter.dll: the grabber as a filter module. Registered, programs create it
// by class identifier; its merit keeps the graph's own connection search from ever
// inserting it.
#include "dshow/base/dllsetup.h"
#include "dshow/grabber.h"

namespace {

constexpr const WCHAR* kGrabberName = L"Sample Grabber Filter";

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kAnyType},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kAnyType},
};
const AMOVIESETUP_FILTER kFilter = {&CLSID_SampleGrabberFilter, kGrabberName, MERIT_DO_NOT_USE, 2,
                                    kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kGrabberName, &CLSID_SampleGrabberFilter, avs::dshow::CreateSampleGrabberObject, nullptr,
     &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(hInstance, reason, reserved);
}
