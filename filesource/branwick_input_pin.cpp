#include "filesource/branwick_input_pin.h"

#include "filesource/branwick_source.h"

namespace filesource {

CBranwickInputPin::CBranwickInputPin(CBranwickSource* filter, HRESULT* phr)
    : CBasePin(TEXT("CBranwickInputPin"), filter, filter->pStateLock(), phr, L"Input",
               PINDIR_INPUT),
      filter_(filter) {}

CBranwickInputPin::~CBranwickInputPin() {
    if (reader_ != nullptr) reader_->Release();
}

HRESULT CBranwickInputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    IAsyncReader* reader = nullptr;
    if (FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader))) ||
        reader == nullptr)
        return E_NOINTERFACE;
    reader->Release();
    return S_OK;
}

HRESULT CBranwickInputPin::CompleteConnect(IPin* pin) {
    HRESULT hr = CBasePin::CompleteConnect(pin);
    if (FAILED(hr)) return hr;
    CheckPointer(pin, E_POINTER);
    IAsyncReader* reader = nullptr;
    hr = pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&reader));
    if (reader_ != nullptr) reader_->Release();
    reader_ = nullptr;
    if (FAILED(hr) || reader == nullptr) return E_NOINTERFACE;
    reader_ = reader;
    return filter_->Load();
}

HRESULT CBranwickInputPin::BreakConnect() {
    HRESULT hr = CBasePin::BreakConnect();
    if (reader_ != nullptr) reader_->Release();
    reader_ = nullptr;
    return hr;
}

}  // namespace filesource
