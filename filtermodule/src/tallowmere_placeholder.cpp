// Stands in for the stream source filter's creation function until its library is built.
#include "filtermodule/creators.h"

CUnknown* WINAPI CreateTallowmereInstance(LPUNKNOWN, HRESULT* phr) {
    AvsTrace("CreateTallowmereInstance(): the filter is not built into this module");
    if (phr != nullptr) *phr = E_NOTIMPL;
    return nullptr;
}
