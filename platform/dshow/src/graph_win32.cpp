// The system's filter graph manager, for programs that build a graph of their own.
#include "dshow/runtime.h"

namespace avs::dshow {

HRESULT CreateFilterGraph(IGraphBuilder** out) {
    CheckPointer(out, E_POINTER);
    return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                            reinterpret_cast<void**>(out));
}

}  // namespace avs::dshow
