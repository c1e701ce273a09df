// Walking a filter's pins: what programs and the graph manager ask of any filter.
#include "dshow/runtime.h"

namespace avs::dshow {

using avs::com::ComPtr;

std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> out;
    ComPtr<IEnumPins> e;
    if (filter == nullptr || FAILED(filter->EnumPins(e.Put())) || !e) return out;
    IPin* p = nullptr;
    ULONG n = 0;
    while (e->Next(1, &p, &n) == S_OK && n == 1) out.push_back(ComPtr<IPin>::Adopt(p));
    return out;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir, bool unconnected_only) {
    for (auto& p : FilterPins(filter)) {
        if (PinDirection(p.Get()) != dir) continue;
        if (unconnected_only && PinPeer(p.Get())) continue;
        return p;
    }
    return {};
}

PIN_DIRECTION PinDirection(IPin* pin) {
    PIN_DIRECTION d = PINDIR_INPUT;
    pin->QueryDirection(&d);
    return d;
}

ComPtr<IBaseFilter> PinOwner(IPin* pin) {
    PIN_INFO info{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&info))) return {};
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

ComPtr<IPin> PinPeer(IPin* pin) {
    ComPtr<IPin> peer;
    if (pin != nullptr) pin->ConnectedTo(peer.Put());
    return peer;
}

}  // namespace avs::dshow
