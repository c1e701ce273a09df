// The null renderer and the capture renderer: one input pin that takes anything, holds
// samples while paused, paces them by the clock when there is one, and reports end of
// stream to the graph.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "dshow/runtime.h"

namespace avs::dshow {
namespace {

class RendererFilter;

class RendererInputPin final : public CBaseInputPin {
  public:
    RendererInputPin(RendererFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  private:
    RendererFilter* renderer_;
};

// A renderer is where a graph manager that seeks through its renderers (Windows's does)
// finds IMediaSeeking; it passes every call to the stream's upstream pin.
class RendererFilter final : public CBaseFilter, public IAMFilterMiscFlags, public IMediaSeeking {
  public:
    RendererFilter(const CLSID& clsid, CaptureCallback cb,
                   std::function<bool(const AM_MEDIA_TYPE&)> accept, LPUNKNOWN outer, HRESULT* phr)
        : CBaseFilter(TEXT("renderer"), outer, &lock_, clsid),
          callback_(std::move(cb)),
          accept_(std::move(accept)),
          pin_(this, &lock_, phr) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IAMFilterMiscFlags)
            return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
        if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    STDMETHODIMP GetCapabilities(DWORD* caps) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetCapabilities(caps); });
    }
    STDMETHODIMP CheckCapabilities(DWORD* caps) override {
        return Upstream([&](IMediaSeeking* s) { return s->CheckCapabilities(caps); });
    }
    STDMETHODIMP IsFormatSupported(const GUID* format) override {
        return Upstream([&](IMediaSeeking* s) { return s->IsFormatSupported(format); });
    }
    STDMETHODIMP QueryPreferredFormat(GUID* format) override {
        return Upstream([&](IMediaSeeking* s) { return s->QueryPreferredFormat(format); });
    }
    STDMETHODIMP GetTimeFormat(GUID* format) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetTimeFormat(format); });
    }
    STDMETHODIMP IsUsingTimeFormat(const GUID* format) override {
        return Upstream([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(format); });
    }
    STDMETHODIMP SetTimeFormat(const GUID* format) override {
        return Upstream([&](IMediaSeeking* s) { return s->SetTimeFormat(format); });
    }
    STDMETHODIMP GetDuration(LONGLONG* duration) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetDuration(duration); });
    }
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
    }
    STDMETHODIMP GetCurrentPosition(LONGLONG* current) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetCurrentPosition(current); });
    }
    STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* target_format, LONGLONG source,
                                   const GUID* source_format) override {
        return Upstream([&](IMediaSeeking* s) {
            return s->ConvertTimeFormat(target, target_format, source, source_format);
        });
    }
    STDMETHODIMP SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop,
                              DWORD stop_flags) override {
        return Upstream([&](IMediaSeeking* s) {
            return s->SetPositions(current, current_flags, stop, stop_flags);
        });
    }
    STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetPositions(current, stop); });
    }
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
    }
    STDMETHODIMP SetRate(double rate) override {
        return Upstream([&](IMediaSeeking* s) { return s->SetRate(rate); });
    }
    STDMETHODIMP GetRate(double* rate) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetRate(rate); });
    }
    STDMETHODIMP GetPreroll(LONGLONG* preroll) override {
        return Upstream([&](IMediaSeeking* s) { return s->GetPreroll(preroll); });
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    STDMETHODIMP Stop() override {
        HRESULT hr = CBaseFilter::Stop();
        {
            std::lock_guard<std::mutex> g(mutex_);
            eos_received_ = eos_sent_ = false;
        }
        cond_.notify_all();
        return hr;
    }
    STDMETHODIMP Pause() override {
        HRESULT hr = CBaseFilter::Pause();
        { std::lock_guard<std::mutex> g(mutex_); }
        cond_.notify_all();
        return hr;
    }
    STDMETHODIMP Run(REFERENCE_TIME start) override {
        HRESULT hr = CBaseFilter::Run(start);
        bool send = false;
        {
            std::lock_guard<std::mutex> g(mutex_);
            run_start_ = start;
            if (eos_received_ && !eos_sent_) send = eos_sent_ = true;
        }
        cond_.notify_all();
        if (send) NotifyEvent(EC_COMPLETE, S_OK, 0);
        return hr;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        HRESULT hr = CBaseFilter::SetSyncSource(clock);
        std::lock_guard<std::mutex> g(mutex_);
        if (clock != nullptr) clock->AddRef();
        if (clock_ != nullptr) clock_->Release();
        clock_ = clock;
        return hr;
    }
    ~RendererFilter() override {
        if (clock_ != nullptr) clock_->Release();
    }

    // Runs `call` on the upstream pin's IMediaSeeking; E_NOTIMPL when it has none.
    template <class Call>
    HRESULT Upstream(Call call) {
        IPin* peer = pin_.GetConnected();
        avs::com::ComPtr<IMediaSeeking> seeking;
        if (peer != nullptr) peer->QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
        return seeking ? call(seeking.Get()) : E_NOTIMPL;
    }

    bool Accepts(const AM_MEDIA_TYPE& mt) const { return !accept_ || accept_(mt); }

    // Waits until the sample may be rendered: S_OK, S_FALSE when flushed meanwhile, or
    // VFW_E_WRONG_STATE when stopped.
    HRESULT WaitToRender(bool has_time, REFERENCE_TIME start) {
        std::unique_lock<std::mutex> l(mutex_);
        for (;;) {
            if (pin_.IsFlushing()) return S_FALSE;
            FILTER_STATE s = m_State;
            if (s == State_Stopped) return VFW_E_WRONG_STATE;
            if (s == State_Paused) {
                cond_.wait(l);
                continue;
            }
            if (clock_ == nullptr || !has_time) return S_OK;
            REFERENCE_TIME now = 0;
            if (FAILED(clock_->GetTime(&now))) return S_OK;
            REFERENCE_TIME due = run_start_ + start;
            if (now >= due) return S_OK;
            REFERENCE_TIME wait = due - now;
            if (wait > 50 * MILLISECONDS) wait = 50 * MILLISECONDS;
            cond_.wait_for(l, std::chrono::microseconds(wait / 10));
        }
    }

    void Wake() {
        { std::lock_guard<std::mutex> g(mutex_); }
        cond_.notify_all();
    }

    // Hands an event to the callback. Samples are dropped once a flush or stop began, so
    // the callback never sees a sample after the BeginFlush it was told about.
    void Emit(const CaptureEvent& e) {
        std::lock_guard<std::mutex> g(emit_mutex_);
        if (e.kind == CaptureEvent::Kind::kSample &&
            (pin_.IsFlushing() || m_State == State_Stopped))
            return;
        if (callback_) callback_(e);
    }

    void OnEndOfStream() {
        bool send = false;
        {
            std::lock_guard<std::mutex> g(mutex_);
            eos_received_ = true;
            if (m_State == State_Running && !eos_sent_) send = eos_sent_ = true;
        }
        if (send) NotifyEvent(EC_COMPLETE, S_OK, 0);
    }

    void OnFlush() {
        {
            std::lock_guard<std::mutex> g(mutex_);
            eos_received_ = eos_sent_ = false;
        }
        cond_.notify_all();
    }

  private:
    CCritSec lock_;
    CaptureCallback callback_;
    std::function<bool(const AM_MEDIA_TYPE&)> accept_;
    RendererInputPin pin_;
    std::mutex mutex_;
    std::mutex emit_mutex_;  // one event at a time, in order
    std::condition_variable cond_;
    IReferenceClock* clock_ = nullptr;  // guarded by mutex_
    REFERENCE_TIME run_start_ = 0;      // guarded by mutex_
    bool eos_received_ = false;
    bool eos_sent_ = false;
};

RendererInputPin::RendererInputPin(RendererFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(TEXT("renderer input"), filter, lock, phr, L"In"), renderer_(filter) {}

HRESULT RendererInputPin::CheckMediaType(const CMediaType* mt) {
    return renderer_->Accepts(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

STDMETHODIMP RendererInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    CaptureEvent e;
    e.kind = CaptureEvent::Kind::kSample;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT ht = sample->GetTime(&start, &stop);
    e.has_time = SUCCEEDED(ht);
    e.has_stop = ht == S_OK;
    e.start = e.has_time ? start : 0;
    e.stop = e.has_stop ? stop : 0;
    hr = renderer_->WaitToRender(e.has_time, e.start);
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    e.data = data;
    e.actual_length = sample->GetActualDataLength();
    e.sync_point = sample->IsSyncPoint() == S_OK;
    e.discontinuity = sample->IsDiscontinuity() == S_OK;
    e.preroll = sample->IsPreroll() == S_OK;
    renderer_->Emit(e);
    return S_OK;
}

STDMETHODIMP RendererInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    CaptureEvent e;
    e.kind = CaptureEvent::Kind::kEndOfStream;
    renderer_->Emit(e);
    renderer_->OnEndOfStream();
    return S_OK;
}

STDMETHODIMP RendererInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    renderer_->OnFlush();
    CaptureEvent e;
    e.kind = CaptureEvent::Kind::kBeginFlush;
    renderer_->Emit(e);
    return S_OK;
}

STDMETHODIMP RendererInputPin::EndFlush() {
    CaptureEvent e;
    e.kind = CaptureEvent::Kind::kEndFlush;
    renderer_->Emit(e);
    CBaseInputPin::EndFlush();
    renderer_->Wake();
    return S_OK;
}

STDMETHODIMP RendererInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    CaptureEvent e;
    e.kind = CaptureEvent::Kind::kNewSegment;
    e.segment_start = start;
    e.segment_stop = stop;
    e.rate = rate;
    renderer_->Emit(e);
    return S_OK;
}

}  // namespace

HRESULT CreateCaptureRenderer(CaptureCallback callback, IBaseFilter** out,
                              std::function<bool(const AM_MEDIA_TYPE&)> accept) {
    CheckPointer(out, E_POINTER);
    HRESULT hr = S_OK;
    static constexpr CLSID kCaptureRenderer = {
        0x5e1f2c3a, 0x8d41, 0x4c67, {0x9a, 0x2e, 0x31, 0x7b, 0x0c, 0x55, 0xd2, 0x19}};
    auto* f =
        new RendererFilter(kCaptureRenderer, std::move(callback), std::move(accept), nullptr, &hr);
    return HandOutNewObject(f, hr, IID_IBaseFilter, reinterpret_cast<void**>(out));
}

HRESULT CreateNullRenderer(IBaseFilter** out) {
    CheckPointer(out, E_POINTER);
    HRESULT hr = S_OK;
    auto* f = new RendererFilter(CLSID_NullRenderer, {}, {}, nullptr, &hr);
    return HandOutNewObject(f, hr, IID_IBaseFilter, reinterpret_cast<void**>(out));
}

// Creation by class identifier (possibly aggregated).
HRESULT CreateNullRendererInstance(IUnknown* outer, REFIID riid, void** ppv) {
    HRESULT hr = S_OK;
    auto* f = new RendererFilter(CLSID_NullRenderer, {}, {}, outer, &hr);
    return HandOutNewObject(f, hr, riid, ppv);
}

}  // namespace avs::dshow
