// A filter module for the tests: the push source and three parsers with different merits.
#include <dlfcn.h>

#include "dshow/base/dllsetup.h"
#include "test_filters.h"

using namespace avs::test;

namespace {

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_MEDIATYPE kTestType = {&MEDIATYPE_TestData, &GUID_NULL};

const AMOVIESETUP_PIN kSourcePins[] = {
    {const_cast<LPWSTR>(L"Video"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kTestType},
    {const_cast<LPWSTR>(L"Audio"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kTestType},
};
const AMOVIESETUP_PIN kParserPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kAnyType},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kTestType},
};

const AMOVIESETUP_FILTER kSource = {&CLSID_TestPushSource, L"Test Push Source", MERIT_DO_NOT_USE, 2,
                                    kSourcePins};
const AMOVIESETUP_FILTER kParserA = {&CLSID_TestParserA, L"Test Parser A", MERIT_PREFERRED + 5, 2,
                                     kParserPins};
const AMOVIESETUP_FILTER kParserB = {&CLSID_TestParserB, L"Test Parser B", MERIT_PREFERRED + 2, 2,
                                     kParserPins};
const AMOVIESETUP_FILTER kParserAny = {&CLSID_TestParserAny, L"Test Parser Any", MERIT_NORMAL, 2,
                                       kParserPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Test Push Source", &CLSID_TestPushSource, CTestPushSource::CreateInstance, nullptr,
     &kSource},
    {L"Test Parser A", &CLSID_TestParserA, CTestParser::CreateA, nullptr, &kParserA},
    {L"Test Parser B", &CLSID_TestParserB, CTestParser::CreateB, nullptr, &kParserB},
    {L"Test Parser Any", &CLSID_TestParserAny, CTestParser::CreateAny, nullptr, &kParserAny},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}

namespace {
__attribute__((constructor)) void Attach() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&Attach), &info);
    DllEntryPoint(info.dli_fbase, DLL_PROCESS_ATTACH, nullptr);
}
__attribute__((destructor)) void Detach() {
    DllEntryPoint(nullptr, DLL_PROCESS_DETACH, nullptr);
}
}  // namespace
