#include "dshow/grabber.h"

#include <atomic>
#include <mutex>

namespace avs::dshow {
namespace {

class CGrabber;

class CGrabberInput final : public CBaseInputPin {
  public:
    CGrabberInput(CGrabber* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  private:
    CGrabber* grabber_;
};

// Passes the input's samples on unchanged: it needs no buffers of its own.
class CGrabberOutput final : public CBaseOutputPin {
  public:
    CGrabberOutput(CGrabber* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = std::max<LONG>(request->cBuffers, 1);
        request->cbBuffer = std::max<LONG>(request->cbBuffer, 1);
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(request, &actual);
    }

  private:
    CGrabber* grabber_;
};

class CGrabber final : public CBaseFilter, public ISampleGrabberFilter {
  public:
    CGrabber(LPUNKNOWN outer, HRESULT* phr)
        : CBaseFilter(TEXT("sample grabber"), outer, &lock_, CLSID_SampleGrabberFilter),
          input_(this, &lock_, phr),
          output_(this, &lock_, phr) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_ISampleGrabberFilter)
            return GetInterface(static_cast<ISampleGrabberFilter*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        if (n == 0) return &input_;
        if (n == 1) return &output_;
        return nullptr;
    }

    STDMETHODIMP SetAcceptedMediaType(const AM_MEDIA_TYPE* type) override {
        std::lock_guard<std::mutex> g(accepted_mutex_);
        if (type == nullptr) {
            accepted_ = CMediaType();  // anything
            return S_OK;
        }
        return accepted_.Set(*type);
    }
    STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE* type) override {
        CheckPointer(type, E_POINTER);
        CAutoLock l(&lock_);
        if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
        return CopyMediaType(type, &input_.CurrentMediaType());
    }
    STDMETHODIMP SetCallback(SAMPLECALLBACK callback) override {
        callback_.store(callback);
        return S_OK;
    }

    bool Accepts(const CMediaType& mt) {
        std::lock_guard<std::mutex> g(accepted_mutex_);
        return mt.MatchesPartial(&accepted_) != FALSE;
    }
    bool InputConnected() { return input_.IsConnected() != FALSE; }
    const CMediaType& InputType() { return input_.CurrentMediaType(); }
    CGrabberOutput& output() { return output_; }

    // On the streaming thread.
    HRESULT Grab(IMediaSample* sample) {
        BOOL changed = FALSE;
        AM_MEDIA_TYPE* type = nullptr;
        if (sample->GetMediaType(&type) == S_OK) {
            changed = TRUE;
            DeleteMediaType(type);
        }
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT timed = sample->GetTime(&start, &stop);
        if (FAILED(timed)) start = stop = 0;
        if (timed == VFW_S_NO_STOP_TIME) stop = start;
        if (SAMPLECALLBACK cb = callback_.load()) cb(sample, &start, &stop, changed);
        // What the callback returns does not stop the stream.
        if (!output_.IsConnected()) return S_OK;
        return output_.Deliver(sample);
    }

  private:
    CCritSec lock_;
    CGrabberInput input_;
    CGrabberOutput output_;
    std::mutex accepted_mutex_;
    CMediaType accepted_;
    std::atomic<SAMPLECALLBACK> callback_{nullptr};
};

CGrabberInput::CGrabberInput(CGrabber* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(TEXT("grabber input"), filter, lock, phr, L"Input"), grabber_(filter) {}

HRESULT CGrabberInput::CheckMediaType(const CMediaType* mt) {
    return grabber_->Accepts(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP CGrabberInput::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return grabber_->Grab(sample);
}

STDMETHODIMP CGrabberInput::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return grabber_->output().IsConnected() ? grabber_->output().DeliverEndOfStream() : S_OK;
}

STDMETHODIMP CGrabberInput::BeginFlush() {
    CBaseInputPin::BeginFlush();
    return grabber_->output().IsConnected() ? grabber_->output().DeliverBeginFlush() : S_OK;
}

STDMETHODIMP CGrabberInput::EndFlush() {
    CBaseInputPin::EndFlush();
    return grabber_->output().IsConnected() ? grabber_->output().DeliverEndFlush() : S_OK;
}

STDMETHODIMP CGrabberInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    return grabber_->output().IsConnected()
               ? grabber_->output().DeliverNewSegment(start, stop, rate)
               : S_OK;
}

CGrabberOutput::CGrabberOutput(CGrabber* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(TEXT("grabber output"), filter, lock, phr, L"Output"), grabber_(filter) {}

HRESULT CGrabberOutput::CheckMediaType(const CMediaType* mt) {
    if (!grabber_->InputConnected()) return VFW_E_NOT_CONNECTED;
    return *mt == grabber_->InputType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CGrabberOutput::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    if (!grabber_->InputConnected()) return VFW_E_NOT_CONNECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return mt->Set(grabber_->InputType());
}

}  // namespace

CUnknown* WINAPI CreateSampleGrabberObject(LPUNKNOWN outer, HRESULT* phr) {
    auto* g = new (std::nothrow) CGrabber(outer, phr);
    if (g == nullptr) *phr = E_OUTOFMEMORY;
    return g;
}

HRESULT CreateSampleGrabberInstance(IUnknown* outer, REFIID riid, void** ppv) {
    HRESULT hr = S_OK;
    auto* g = new (std::nothrow) CGrabber(outer, &hr);
    return HandOutNewObject(g, hr, riid, ppv);
}

}  // namespace avs::dshow
