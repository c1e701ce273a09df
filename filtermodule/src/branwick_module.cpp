// BranwickSource.so: one class, the AVS media container parser.
#include "dshow/base/dllsetup.h"
#include "filtermodule/creators.h"
#include "filtermodule/module_ids.h"

namespace {

const AMOVIESETUP_MEDIATYPE kInputType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_MEDIATYPE kAudioType = {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1AudioPayload};
const AMOVIESETUP_MEDIATYPE kVideoType = {&MEDIATYPE_Video, &MEDIASUBTYPE_AVS2};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Stream Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1,
     &kInputType},
    {const_cast<LPWSTR>(L"Audio Output"), FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1,
     &kAudioType},
    {const_cast<LPWSTR>(L"Video Output"), FALSE, TRUE, TRUE, FALSE, &CLSID_NULL, nullptr, 1,
     &kVideoType},
};

const AMOVIESETUP_FILTER kFilter = {&CLSID_BranwickSource, kBranwickSourceName, MERIT_PREFERRED + 2,
                                    3, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kBranwickSourceName, &CLSID_BranwickSource, CreateBranwickSourceInstance, nullptr, &kFilter},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
