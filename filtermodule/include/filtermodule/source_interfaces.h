// The interfaces players ask both source filters for beyond CSource's own.
#pragma once

#include "dshow/streams.h"

namespace filtermodule {

// Answers IAMFilterMiscFlags, IAMOpenProgress and IAMMediaContent from a
// filter implementing them, and everything else through CSource.
template <class Filter>
HRESULT QuerySourceInterfaces(Filter* filter, REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IAMFilterMiscFlags)
        return GetInterface(static_cast<IAMFilterMiscFlags*>(filter), ppv);
    if (riid == IID_IAMOpenProgress)
        return GetInterface(static_cast<IAMOpenProgress*>(filter), ppv);
    if (riid == IID_IAMMediaContent)
        return GetInterface(static_cast<IAMMediaContent*>(filter), ppv);
    return filter->CSource::NonDelegatingQueryInterface(riid, ppv);
}

}  // namespace filtermodule
