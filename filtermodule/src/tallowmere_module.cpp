// Tallowmere.so: one class, the RTSP stream source.
#include "dshow/base/dllsetup.h"
#include "filtermodule/creators.h"
#include "filtermodule/module_ids.h"

namespace {

const AMOVIESETUP_MEDIATYPE kAudioType = {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1AudioPayload};
const AMOVIESETUP_MEDIATYPE kVideoType = {&MEDIATYPE_Video, &MEDIASUBTYPE_TallowmereVideo};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Audio Output"), FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1,
     &kAudioType},
    {const_cast<LPWSTR>(L"Video Output"), FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1,
     &kVideoType},
};

const AMOVIESETUP_FILTER kFilter = {&CLSID_Tallowmere, kTallowmereName, MERIT_PREFERRED, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kTallowmereName, &CLSID_Tallowmere, CreateTallowmereInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
