// Stands in for the file source filter's creation function until its library is built.
#include "filtermodule/creators.h"

CUnknown* WINAPI CreateBranwickSourceInstance(LPUNKNOWN, HRESULT* phr) {
    AvsTrace("CreateBranwickSourceInstance(): the filter is not built into this module");
    if (phr != nullptr) *phr = E_NOTIMPL;
    return nullptr;
}
