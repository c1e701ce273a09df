// The file source's input pin: connects to any pin that offers IAsyncReader
// and loads the container through it.
#pragma once

#include "dshow/streams.h"

namespace filesource {

class CBranwickSource;

class CBranwickInputPin : public CBasePin {
  public:
    CBranwickInputPin(CBranwickSource* filter, HRESULT* phr);
    ~CBranwickInputPin() override;

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* pin) override;
    HRESULT BreakConnect() override;

    // Nothing is ever pushed into this pin.
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }

    // The upstream reader while connected (no reference added), or null.
    IAsyncReader* reader() const { return reader_; }

  private:
    CBranwickSource* filter_;
    IAsyncReader* reader_ = nullptr;
};

}  // namespace filesource
