// The creation functions the modules' template tables call. Each filter's library defines
// its function; until it exists the module links a placeholder that refuses with
// E_NOTIMPL (see filtermodule/CMakeLists.txt for how a filter library plugs in).
#pragma once

#include "dshow/streams.h"

// Sets *phr to S_OK and returns a new filter for `pUnk` (the controlling unknown of an
// aggregate, or null); on allocation failure *phr = E_OUTOFMEMORY and null.
CUnknown* WINAPI CreateBranwickSourceInstance(LPUNKNOWN pUnk, HRESULT* phr);
CUnknown* WINAPI CreateTallowmereInstance(LPUNKNOWN pUnk, HRESULT* phr);
