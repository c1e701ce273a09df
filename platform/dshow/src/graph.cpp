// The filter graph manager: holds the filters, connects pins (directly, or through
// registered filters in merit order), runs state changes from the renderers upstream,
// collects EC_COMPLETE from the renderers, and forwards seeking to the source pins.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>

#include "dshow/runtime.h"
#include "sync/forever.h"

namespace avs::dshow {

HRESULT CreateAsyncReaderInstance(IUnknown* outer, REFIID riid, void** ppv);

namespace {

using avs::com::ComPtr;

std::mutex& HookMutex() {
    static auto* m = avs::Forever(new std::mutex);
    return *m;
}
SourceFilterFactory& Hook() {
    static auto* h = avs::Forever(new SourceFilterFactory);
    return *h;
}

// A clock on the monotonic system time, in 100 ns units.
class SystemClock final : public CUnknown, public IReferenceClock {
  public:
    SystemClock() : CUnknown(TEXT("system clock"), nullptr) {}
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IReferenceClock)
            return GetInterface(static_cast<IReferenceClock*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP GetTime(REFERENCE_TIME* t) override {
        CheckPointer(t, E_POINTER);
        using namespace std::chrono;
        *t = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
        return S_OK;
    }
    STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

bool TypeMatches(const RegisteredPinType& reg, const std::vector<CMediaType>& offered) {
    // GUID_NULL registered types match everything; a pin that offers no type at all
    // (it accepts what it is given) is tried against every filter.
    if (offered.empty()) return true;
    for (const CMediaType& mt : offered) {
        bool major = reg.major == GUID_NULL || reg.major == mt.majortype;
        bool sub = reg.sub == GUID_NULL || reg.sub == mt.subtype;
        if (major && sub) return true;
    }
    return false;
}

std::vector<CMediaType> OfferedTypes(IPin* pin) {
    std::vector<CMediaType> out;
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(pin->EnumMediaTypes(e.Put())) || !e) return out;
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG n = 0;
    while (out.size() < 64 && e->Next(1, &mt, &n) == S_OK && n == 1) {
        out.emplace_back(*mt);
        DeleteMediaType(mt);
    }
    return out;
}

class FilterGraph final : public CUnknown,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEvent,
                          public IMediaFilter,
                          public IMediaSeeking,
                          public IMediaEventSink {
  public:
    explicit FilterGraph(LPUNKNOWN outer) : CUnknown(TEXT("filter graph"), outer) {
        event_handle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~FilterGraph() override {
        Stop();
        while (!filters_.empty()) RemoveFilter(filters_.back().filter.Get());
        if (clock_ != nullptr) clock_->Release();
        CloseHandle(event_handle_);
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IGraphBuilder) return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
        if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
        if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (riid == IID_IMediaEvent) return GetInterface(static_cast<IMediaEvent*>(this), ppv);
        if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
        if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
        if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
        if (riid == IID_IMediaEventSink)
            return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // ---- IFilterGraph
    STDMETHODIMP AddFilter(IBaseFilter* filter, LPCWSTR name) override {
        CheckPointer(filter, E_POINTER);
        CAutoLock l(&lock_);
        for (const auto& e : filters_)
            if (e.filter.Get() == filter) return VFW_E_DUPLICATE_NAME;
        std::wstring base = name && *name ? name : L"Filter";
        std::wstring unique = base;
        HRESULT result = S_OK;
        for (int n = 1; NameTaken(unique); ++n) {
            wchar_t suffix[16];
            std::swprintf(suffix, 16, L" %04d", n);
            unique = base + suffix;
            result = VFW_S_DUPLICATE_NAME;
        }
        HRESULT hr = filter->JoinFilterGraph(
            static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this)), unique.c_str());
        if (FAILED(hr)) return hr;
        filters_.push_back({ComPtr<IBaseFilter>(filter), unique});
        if (clock_chosen_) filter->SetSyncSource(clock_);
        return result;
    }

    STDMETHODIMP RemoveFilter(IBaseFilter* filter) override {
        CheckPointer(filter, E_POINTER);
        CAutoLock l(&lock_);
        auto it = std::find_if(filters_.begin(), filters_.end(),
                               [&](const Entry& e) { return e.filter.Get() == filter; });
        if (it == filters_.end()) return VFW_E_NOT_FOUND;
        ComPtr<IBaseFilter> keep = it->filter;
        if (state_ != State_Stopped) keep->Stop();
        for (auto& pin : FilterPins(filter)) {
            ComPtr<IPin> peer = PinPeer(pin.Get());
            if (peer) {
                peer->Disconnect();
                pin->Disconnect();
            }
        }
        keep->JoinFilterGraph(nullptr, nullptr);
        keep->SetSyncSource(nullptr);
        filters_.erase(it);
        return S_OK;
    }

    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;

    STDMETHODIMP FindFilterByName(LPCWSTR name, IBaseFilter** out) override {
        CheckPointer(name, E_POINTER);
        CheckPointer(out, E_POINTER);
        CAutoLock l(&lock_);
        for (const auto& e : filters_) {
            if (e.name == name) {
                *out = e.filter.Get();
                (*out)->AddRef();
                return S_OK;
            }
        }
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }

    STDMETHODIMP ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) override {
        CheckPointer(out, E_POINTER);
        CheckPointer(in, E_POINTER);
        CAutoLock l(&lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (PinDirection(out) != PINDIR_OUTPUT || PinDirection(in) != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        if (!InGraph(out) || !InGraph(in)) return VFW_E_NOT_IN_GRAPH;
        return out->Connect(in, pmt);
    }

    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }

    STDMETHODIMP Disconnect(IPin* pin) override {
        CheckPointer(pin, E_POINTER);
        CAutoLock l(&lock_);
        return pin->Disconnect();
    }

    STDMETHODIMP SetDefaultSyncSource() override {
        ComPtr<IReferenceClock> clock = NewSystemClock();
        return SetSyncSource(clock.Get());
    }

    // ---- IGraphBuilder
    STDMETHODIMP Connect(IPin* out, IPin* in) override {
        CheckPointer(out, E_POINTER);
        CheckPointer(in, E_POINTER);
        CAutoLock l(&lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (PinDirection(out) != PINDIR_OUTPUT || PinDirection(in) != PINDIR_INPUT)
            return VFW_E_INVALID_DIRECTION;
        if (PinPeer(out) || PinPeer(in)) return VFW_E_ALREADY_CONNECTED;
        return ConnectVia(out, in, 2);
    }

    STDMETHODIMP Render(IPin* out) override {
        CheckPointer(out, E_POINTER);
        CAutoLock l(&lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        if (PinDirection(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
        if (PinPeer(out)) return VFW_E_ALREADY_CONNECTED;
        return RenderPin(out, 0);
    }

    STDMETHODIMP RenderFile(LPCWSTR file, LPCWSTR) override {
        CheckPointer(file, E_POINTER);
        CAutoLock l(&lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        // Files reach their parser through the asynchronous reader, as on Windows.
        ComPtr<IBaseFilter> reader;
        HRESULT hr = CreateAsyncReaderInstance(nullptr, IID_IBaseFilter, reader.PutVoid());
        if (FAILED(hr)) return hr;
        hr = LoadFile(reader.Get(), file);
        if (FAILED(hr)) return hr;
        hr = AddFilter(reader.Get(), file);
        if (FAILED(hr)) return hr;
        ComPtr<IPin> pin = FirstPin(reader.Get(), PINDIR_OUTPUT);
        hr = pin ? RenderPin(pin.Get(), 0) : E_UNEXPECTED;
        if (FAILED(hr)) {
            RemoveFilter(reader.Get());
            return hr == VFW_E_CANNOT_CONNECT ? VFW_E_CANNOT_RENDER : hr;
        }
        return hr;
    }

    STDMETHODIMP AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** out) override {
        CheckPointer(file, E_POINTER);
        CheckPointer(out, E_POINTER);
        *out = nullptr;
        CAutoLock l(&lock_);
        SourceFilterFactory hook;
        {
            std::lock_guard<std::mutex> g(HookMutex());
            hook = Hook();
        }
        ComPtr<IBaseFilter> source;
        HRESULT hr;
        if (hook) {
            hr = hook(file, source.Put());
        } else {
            hr = CreateAsyncReaderInstance(nullptr, IID_IBaseFilter, source.PutVoid());
            if (SUCCEEDED(hr)) hr = LoadFile(source.Get(), file);
        }
        if (FAILED(hr)) return hr;
        if (!source) return E_UNEXPECTED;
        hr = AddFilter(source.Get(), name && *name ? name : file);
        if (FAILED(hr)) return hr;
        *out = source.Detach();
        return hr;
    }

    STDMETHODIMP SetLogFile(DWORD_PTR) override { return S_OK; }
    STDMETHODIMP Abort() override { return S_OK; }
    STDMETHODIMP ShouldOperationContinue() override { return S_OK; }

    // ---- IDispatch (not supported here)
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n != nullptr) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }

    // ---- IMediaControl / IMediaFilter
    STDMETHODIMP Run() override { return RunAt(-1); }
    STDMETHODIMP Run(REFERENCE_TIME tStart) override { return RunAt(tStart); }

    STDMETHODIMP Pause() override {
        CAutoLock l(&lock_);
        if (state_ == State_Paused) return S_OK;
        if (state_ == State_Stopped) ResetCompletion(true);
        if (state_ == State_Running && clock_ != nullptr) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            paused_at_ = now - run_start_;
        }
        HRESULT hr = ForEachDownstreamFirst([](IBaseFilter* f) { return f->Pause(); });
        if (FAILED(hr)) {
            ForEachDownstreamFirst([](IBaseFilter* f) { return f->Stop(); });
            state_ = State_Stopped;
            return hr;
        }
        state_ = State_Paused;
        return S_OK;
    }

    STDMETHODIMP Stop() override {
        CAutoLock l(&lock_);
        HRESULT hr = ForEachDownstreamFirst([](IBaseFilter* f) { return f->Stop(); });
        state_ = State_Stopped;
        paused_at_ = 0;
        ResetCompletion(false);
        return hr;
    }

    STDMETHODIMP GetState(LONG, OAFilterState* pfs) override {
        CheckPointer(pfs, E_POINTER);
        *pfs = static_cast<OAFilterState>(state_.load());
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* s) override {
        CheckPointer(s, E_POINTER);
        *s = state_.load();
        return S_OK;
    }

    STDMETHODIMP RenderFile(BSTR name) override { return RenderFile(name, nullptr); }
    STDMETHODIMP AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP StopWhenReady() override { return Stop(); }

    STDMETHODIMP GetClassID(CLSID* id) override {
        CheckPointer(id, E_POINTER);
        *id = CLSID_FilterGraph;
        return S_OK;
    }

    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        CAutoLock l(&lock_);
        if (clock != nullptr) clock->AddRef();
        if (clock_ != nullptr) clock_->Release();
        clock_ = clock;
        clock_chosen_ = true;
        for (auto& e : filters_) e.filter->SetSyncSource(clock);
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        CheckPointer(clock, E_POINTER);
        CAutoLock l(&lock_);
        *clock = clock_;
        if (clock_ != nullptr) clock_->AddRef();
        return S_OK;
    }

    // ---- IMediaEventSink (called on streaming threads: never takes lock_)
    STDMETHODIMP Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        {
            std::lock_guard<std::mutex> g(events_mutex_);
            if (code == EC_COMPLETE) {
                completed_.insert(p2);
                if (!completion_code_ && static_cast<int>(completed_.size()) >= renderers_) {
                    completion_code_ = EC_COMPLETE;
                    PushEvent(EC_COMPLETE, S_OK, 0);
                }
            } else {
                if ((code == EC_ERRORABORT || code == EC_USERABORT) && !completion_code_)
                    completion_code_ = code;
                PushEvent(code, p1, p2);
            }
        }
        events_cond_.notify_all();
        return S_OK;
    }

    // ---- IMediaEvent
    STDMETHODIMP GetEventHandle(OAEVENT* h) override {
        CheckPointer(h, E_POINTER);
        *h = reinterpret_cast<OAEVENT>(event_handle_);
        return S_OK;
    }
    STDMETHODIMP GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG ms) override {
        CheckPointer(code, E_POINTER);
        std::unique_lock<std::mutex> g(events_mutex_);
        auto ready = [&] { return !events_.empty(); };
        if (ms < 0)
            events_cond_.wait(g, ready);
        else
            events_cond_.wait_for(g, std::chrono::milliseconds(ms), ready);
        if (events_.empty()) return E_ABORT;
        Event e = events_.front();
        events_.pop_front();
        if (events_.empty()) ResetEvent(event_handle_);
        *code = e.code;
        if (p1 != nullptr) *p1 = e.p1;
        if (p2 != nullptr) *p2 = e.p2;
        return S_OK;
    }
    STDMETHODIMP WaitForCompletion(LONG ms, LONG* evcode) override {
        CheckPointer(evcode, E_POINTER);
        *evcode = 0;
        if (state_ != State_Running) return VFW_E_WRONG_STATE;
        std::unique_lock<std::mutex> g(events_mutex_);
        auto done = [&] { return completion_code_ != 0 || state_ != State_Running; };
        if (ms < 0)
            events_cond_.wait(g, done);
        else
            events_cond_.wait_for(g, std::chrono::milliseconds(ms), done);
        if (completion_code_ == 0) return state_ != State_Running ? VFW_E_WRONG_STATE : E_ABORT;
        *evcode = completion_code_;
        return S_OK;
    }
    STDMETHODIMP CancelDefaultHandling(LONG) override { return S_OK; }
    STDMETHODIMP RestoreDefaultHandling(LONG) override { return S_OK; }
    STDMETHODIMP FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

    // ---- IMediaSeeking (forwarded to the most upstream output pins that seek)
    STDMETHODIMP GetCapabilities(DWORD* caps) override {
        CheckPointer(caps, E_POINTER);
        CAutoLock l(&lock_);
        auto seekers = Seekers();
        if (seekers.empty()) {
            *caps = 0;
            return E_NOTIMPL;
        }
        DWORD all = 0xFFFFFFFFu;
        for (auto& s : seekers) {
            DWORD c = 0;
            s->GetCapabilities(&c);
            all &= c;
        }
        *caps = all;
        return S_OK;
    }
    STDMETHODIMP CheckCapabilities(DWORD* caps) override {
        CheckPointer(caps, E_POINTER);
        DWORD have = 0;
        GetCapabilities(&have);
        DWORD wanted = *caps;
        *caps &= have;
        if (*caps == wanted) return S_OK;
        return *caps ? S_FALSE : E_FAIL;
    }
    STDMETHODIMP IsFormatSupported(const GUID* f) override {
        CheckPointer(f, E_POINTER);
        return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
    }
    STDMETHODIMP QueryPreferredFormat(GUID* f) override { return GetTimeFormat(f); }
    STDMETHODIMP GetTimeFormat(GUID* f) override {
        CheckPointer(f, E_POINTER);
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    STDMETHODIMP IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
    STDMETHODIMP SetTimeFormat(const GUID* f) override {
        CheckPointer(f, E_POINTER);
        return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetDuration(LONGLONG* d) override {
        CheckPointer(d, E_POINTER);
        CAutoLock l(&lock_);
        bool any = false;
        LONGLONG best = 0;
        for (auto& s : Seekers()) {
            LONGLONG v = 0;
            if (SUCCEEDED(s->GetDuration(&v))) {
                best = any ? std::max(best, v) : v;
                any = true;
            }
        }
        if (!any) return E_NOTIMPL;
        *d = best;
        return S_OK;
    }
    STDMETHODIMP GetStopPosition(LONGLONG* stop) override {
        CheckPointer(stop, E_POINTER);
        return AskFirstSeeker([&](IMediaSeeking* s) { return s->GetStopPosition(stop); });
    }
    STDMETHODIMP GetCurrentPosition(LONGLONG* cur) override {
        CheckPointer(cur, E_POINTER);
        CAutoLock l(&lock_);
        auto seekers = Seekers();
        if (seekers.empty()) return E_NOTIMPL;
        LONGLONG start = 0, stop = 0;
        seekers.front()->GetPositions(&start, &stop);
        LONGLONG stream = 0;
        if (clock_ != nullptr && state_ != State_Stopped) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            stream = state_ == State_Running ? now - run_start_ : paused_at_;
        }
        *cur = std::min(start + std::max<LONGLONG>(stream, 0), stop);
        return S_OK;
    }
    STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* tf, LONGLONG source,
                                   const GUID* sf) override {
        CheckPointer(target, E_POINTER);
        if ((tf && *tf != TIME_FORMAT_MEDIA_TIME) || (sf && *sf != TIME_FORMAT_MEDIA_TIME))
            return E_INVALIDARG;
        *target = source;
        return S_OK;
    }
    STDMETHODIMP SetPositions(LONGLONG* cur, DWORD cf, LONGLONG* stop, DWORD sf) override {
        CAutoLock l(&lock_);
        auto seekers = Seekers();
        if (seekers.empty()) return E_NOTIMPL;
        if ((cf & AM_SEEKING_PositioningBitsMask) != 0) ResetCompletion(false);
        HRESULT result = S_OK;
        for (auto& s : seekers) {
            LONGLONG c = cur ? *cur : 0, t = stop ? *stop : 0;
            HRESULT hr = s->SetPositions(cur ? &c : nullptr, cf, stop ? &t : nullptr, sf);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        // Stream time starts again from the new position.
        if ((cf & AM_SEEKING_PositioningBitsMask) != 0) {
            paused_at_ = 0;
            if (state_ == State_Running && clock_ != nullptr) {
                REFERENCE_TIME now = 0;
                clock_->GetTime(&now);
                run_start_ = now;
                REFERENCE_TIME t = run_start_;
                ForEachDownstreamFirst([t](IBaseFilter* f) { return f->Run(t); });
            }
        }
        return result;
    }
    STDMETHODIMP GetPositions(LONGLONG* cur, LONGLONG* stop) override {
        return AskFirstSeeker([&](IMediaSeeking* s) { return s->GetPositions(cur, stop); });
    }
    STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
        return AskFirstSeeker([&](IMediaSeeking* s) { return s->GetAvailable(earliest, latest); });
    }
    STDMETHODIMP SetRate(double rate) override {
        CAutoLock l(&lock_);
        auto seekers = Seekers();
        if (seekers.empty()) return E_NOTIMPL;
        HRESULT result = S_OK;
        for (auto& s : seekers) {
            HRESULT hr = s->SetRate(rate);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        return result;
    }
    STDMETHODIMP GetRate(double* rate) override {
        CheckPointer(rate, E_POINTER);
        return AskFirstSeeker([&](IMediaSeeking* s) { return s->GetRate(rate); });
    }
    STDMETHODIMP GetPreroll(LONGLONG* p) override {
        CheckPointer(p, E_POINTER);
        *p = 0;
        return S_OK;
    }

    std::vector<ComPtr<IBaseFilter>> Snapshot() {
        CAutoLock l(&lock_);
        std::vector<ComPtr<IBaseFilter>> out;
        for (auto& e : filters_) out.push_back(e.filter);
        return out;
    }

  private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::wstring name;
    };
    struct Event {
        LONG code;
        LONG_PTR p1, p2;
    };

    static ComPtr<IReferenceClock> NewSystemClock() {
        auto* c = new SystemClock;
        ComPtr<IReferenceClock> out;
        c->NonDelegatingQueryInterface(IID_IReferenceClock, out.PutVoid());
        return out;
    }

    bool NameTaken(const std::wstring& name) const {
        for (const auto& e : filters_)
            if (e.name == name) return true;
        return false;
    }

    bool InGraph(IPin* pin) {
        ComPtr<IBaseFilter> owner = PinOwner(pin);
        for (const auto& e : filters_)
            if (e.filter.Get() == owner.Get()) return true;
        return false;
    }

    static HRESULT LoadFile(IBaseFilter* reader, LPCWSTR file) {
        ComPtr<IFileSourceFilter> fs;
        HRESULT hr = reader->QueryInterface(IID_IFileSourceFilter, fs.PutVoid());
        if (FAILED(hr)) return hr;
        return fs->Load(file, nullptr);
    }

    // Connects out to in, directly or through up to `depth` registered filters between.
    HRESULT ConnectVia(IPin* out, IPin* in, int depth) {
        HRESULT direct = out->Connect(in, nullptr);
        if (SUCCEEDED(direct) || depth == 0) return direct;
        std::vector<CMediaType> offered = OfferedTypes(out);
        ComPtr<IBaseFilter> target = PinOwner(in);
        for (const RegisteredFilter& reg : EnumerateRegisteredFilters()) {
            if (reg.merit <= MERIT_DO_NOT_USE || !AcceptsOnInput(reg, offered) || !HasOutput(reg))
                continue;
            ComPtr<IBaseFilter> mid;
            if (FAILED(CoCreateInstance(reg.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        mid.PutVoid())))
                continue;
            if (FAILED(AddFilter(mid.Get(), reg.name.c_str()))) continue;
            bool ok = false;
            if (ComPtr<IPin> midIn = FirstPin(mid.Get(), PINDIR_INPUT, true);
                midIn && SUCCEEDED(out->Connect(midIn.Get(), nullptr))) {
                for (auto& p : FilterPins(mid.Get())) {
                    if (PinDirection(p.Get()) != PINDIR_OUTPUT || PinPeer(p.Get())) continue;
                    if (SUCCEEDED(ConnectVia(p.Get(), in, depth - 1))) {
                        ok = true;
                        break;
                    }
                }
            }
            if (ok) return S_OK;
            RemoveFilter(mid.Get());
        }
        return FAILED(direct) ? VFW_E_CANNOT_CONNECT : direct;
    }

    static bool AcceptsOnInput(const RegisteredFilter& reg,
                               const std::vector<CMediaType>& offered) {
        for (const auto& p : reg.pins) {
            if (p.output) continue;
            if (p.types.empty()) return true;
            for (const auto& t : p.types)
                if (TypeMatches(t, offered)) return true;
        }
        return false;
    }
    static bool HasOutput(const RegisteredFilter& reg) {
        for (const auto& p : reg.pins)
            if (p.output) return true;
        return false;
    }

    // Renders the outputs of a filter that `out` was just connected to.
    HRESULT RenderOutputsOf(IBaseFilter* next, int depth) {
        bool partial = false;
        for (auto& p : FilterPins(next)) {
            if (PinDirection(p.Get()) != PINDIR_OUTPUT || PinPeer(p.Get())) continue;
            HRESULT hr = RenderPin(p.Get(), depth + 1);
            if (hr != S_OK) partial = true;
        }
        return partial ? VFW_S_PARTIAL_RENDER : S_OK;
    }

    // Renders one output pin: first the filters already in the graph with a free input
    // (a program's own renderers), then the registered filters in merit order; keeps the
    // first whose input accepts the connection, then renders that filter's outputs.
    // Output pins that nothing accepts stay open (VFW_S_PARTIAL_RENDER).
    HRESULT RenderPin(IPin* out, int depth) {
        if (depth > 6) return VFW_E_CANNOT_RENDER;
        ComPtr<IBaseFilter> owner = PinOwner(out);
        std::vector<ComPtr<IBaseFilter>> present;
        for (const auto& e : filters_)
            if (e.filter.Get() != owner.Get()) present.push_back(e.filter);
        for (auto& next : present) {
            ComPtr<IPin> in = FirstPin(next.Get(), PINDIR_INPUT, true);
            if (in && SUCCEEDED(out->Connect(in.Get(), nullptr)))
                return RenderOutputsOf(next.Get(), depth);
        }
        std::vector<CMediaType> offered = OfferedTypes(out);
        for (const RegisteredFilter& reg : EnumerateRegisteredFilters()) {
            if (reg.merit <= MERIT_DO_NOT_USE || !AcceptsOnInput(reg, offered)) continue;
            ComPtr<IBaseFilter> next;
            if (FAILED(CoCreateInstance(reg.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        next.PutVoid())))
                continue;
            if (FAILED(AddFilter(next.Get(), reg.name.c_str()))) continue;
            ComPtr<IPin> in = FirstPin(next.Get(), PINDIR_INPUT, true);
            if (!in || FAILED(out->Connect(in.Get(), nullptr))) {
                RemoveFilter(next.Get());
                continue;  // refused: the next filter by merit gets its turn
            }
            return RenderOutputsOf(next.Get(), depth);
        }
        return VFW_E_CANNOT_RENDER;
    }

    // Filters ordered renderers first, sources last.
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst() {
        std::vector<ComPtr<IBaseFilter>> all;
        for (auto& e : filters_) all.push_back(e.filter);
        std::vector<ComPtr<IBaseFilter>> ordered;
        std::set<IBaseFilter*> placed;
        while (ordered.size() < all.size()) {
            bool progress = false;
            for (auto& f : all) {
                if (placed.count(f.Get())) continue;
                bool ready = true;
                for (auto& p : FilterPins(f.Get())) {
                    if (PinDirection(p.Get()) != PINDIR_OUTPUT) continue;
                    ComPtr<IPin> peer = PinPeer(p.Get());
                    if (!peer) continue;
                    ComPtr<IBaseFilter> down = PinOwner(peer.Get());
                    if (down && down.Get() != f.Get() && !placed.count(down.Get())) ready = false;
                }
                if (ready) {
                    ordered.push_back(f);
                    placed.insert(f.Get());
                    progress = true;
                }
            }
            if (!progress) {  // a cycle: take the rest as they come
                for (auto& f : all)
                    if (!placed.count(f.Get())) ordered.push_back(f);
                break;
            }
        }
        return ordered;
    }

    template <typename F>
    HRESULT ForEachDownstreamFirst(F fn) {
        HRESULT result = S_OK;
        for (auto& f : DownstreamFirst()) {
            HRESULT hr = fn(f.Get());
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        return result;
    }

    // Output pins offering IMediaSeeking whose filter is not fed by another seeking pin.
    // A question every seeker would answer alike goes to the first of them.
    template <typename Ask>
    HRESULT AskFirstSeeker(Ask ask) {
        CAutoLock l(&lock_);
        auto seekers = Seekers();
        return seekers.empty() ? E_NOTIMPL : ask(seekers.front().Get());
    }
    std::vector<ComPtr<IMediaSeeking>> Seekers() {
        std::vector<ComPtr<IMediaSeeking>> out;
        for (auto& e : filters_) {
            auto pins = FilterPins(e.filter.Get());
            bool fedBySeeker = false;
            for (auto& p : pins) {
                if (PinDirection(p.Get()) != PINDIR_INPUT) continue;
                ComPtr<IPin> peer = PinPeer(p.Get());
                if (peer && peer.As<IMediaSeeking>(IID_IMediaSeeking)) fedBySeeker = true;
            }
            if (fedBySeeker) continue;
            for (auto& p : pins) {
                if (PinDirection(p.Get()) != PINDIR_OUTPUT || !PinPeer(p.Get())) continue;
                auto s = p.As<IMediaSeeking>(IID_IMediaSeeking);
                if (s) out.push_back(s);
            }
        }
        return out;
    }

    int CountRenderers() {
        int n = 0;
        for (auto& e : filters_) {
            bool input = false, output = false;
            for (auto& p : FilterPins(e.filter.Get())) {
                if (!PinPeer(p.Get())) continue;
                (PinDirection(p.Get()) == PINDIR_INPUT ? input : output) = true;
            }
            if (input && !output) ++n;
        }
        return n;
    }

    // Caller holds lock_.
    void ResetCompletion(bool recount) {
        int renderers = recount ? CountRenderers() : -1;
        {
            std::lock_guard<std::mutex> g(events_mutex_);
            completed_.clear();
            completion_code_ = 0;
            if (renderers >= 0) renderers_ = renderers;
        }
        events_cond_.notify_all();
    }

    // events_mutex_ held.
    void PushEvent(LONG code, LONG_PTR p1, LONG_PTR p2) {
        events_.push_back({code, p1, p2});
        SetEvent(event_handle_);
    }

    HRESULT RunAt(REFERENCE_TIME tStart) {
        CAutoLock l(&lock_);
        if (state_ == State_Running) return S_OK;
        if (state_ == State_Stopped) {
            HRESULT hr = Pause();
            if (FAILED(hr)) return hr;
        }
        if (!clock_chosen_) {
            // Without an explicit choice the graph plays in real time, as on Windows.
            ComPtr<IReferenceClock> clock = NewSystemClock();
            SetSyncSource(clock.Get());
        }
        if (tStart < 0) {
            REFERENCE_TIME now = 0;
            if (clock_ != nullptr) clock_->GetTime(&now);
            tStart = now - paused_at_;
        }
        run_start_ = tStart;
        {
            std::lock_guard<std::mutex> g(events_mutex_);
            if (renderers_ == 0 && completion_code_ == 0) {
                completion_code_ = EC_COMPLETE;
                PushEvent(EC_COMPLETE, S_OK, 0);
            }
        }
        HRESULT hr = ForEachDownstreamFirst([tStart](IBaseFilter* f) { return f->Run(tStart); });
        if (FAILED(hr)) {
            ForEachDownstreamFirst([](IBaseFilter* f) { return f->Stop(); });
            state_ = State_Stopped;
            return hr;
        }
        state_ = State_Running;
        events_cond_.notify_all();
        return S_OK;
    }

    CCritSec lock_;  // graph structure and state changes (application threads only)
    std::vector<Entry> filters_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    IReferenceClock* clock_ = nullptr;
    bool clock_chosen_ = false;
    REFERENCE_TIME run_start_ = 0;
    REFERENCE_TIME paused_at_ = 0;

    std::mutex events_mutex_;  // the event queue and completion
    std::condition_variable events_cond_;
    std::deque<Event> events_;
    std::set<LONG_PTR> completed_;
    int renderers_ = 0;
    LONG completion_code_ = 0;
    HANDLE event_handle_ = nullptr;
};

class FilterEnum final : public IEnumFilters {
  public:
    explicit FilterEnum(std::vector<ComPtr<IBaseFilter>> list, size_t pos = 0)
        : list_(std::move(list)), pos_(pos) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IEnumFilters || riid == IID_IUnknown) return GetInterface(this, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP Next(ULONG n, IBaseFilter** out, ULONG* fetched) override {
        CheckPointer(out, E_POINTER);
        ULONG got = 0;
        while (got < n && pos_ < list_.size()) {
            out[got] = list_[pos_++].Get();
            out[got++]->AddRef();
        }
        if (fetched != nullptr) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG n) override {
        pos_ = std::min(list_.size(), pos_ + n);
        return pos_ < list_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumFilters** out) override {
        CheckPointer(out, E_POINTER);
        *out = new FilterEnum(list_, pos_);
        return S_OK;
    }

  private:
    ~FilterEnum() = default;
    std::vector<ComPtr<IBaseFilter>> list_;
    size_t pos_;
    std::atomic<ULONG> refs_{1};
};

STDMETHODIMP FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new FilterEnum(Snapshot());
    return S_OK;
}

}  // namespace

HRESULT CreateFilterGraphInstance(IUnknown* outer, REFIID riid, void** ppv) {
    return HandOutNewObject(new FilterGraph(outer), S_OK, riid, ppv);
}

HRESULT CreateFilterGraph(IGraphBuilder** out) {
    CheckPointer(out, E_POINTER);
    return CreateFilterGraphInstance(nullptr, IID_IGraphBuilder, reinterpret_cast<void**>(out));
}

void SetSourceFilterFactory(SourceFilterFactory factory) {
    std::lock_guard<std::mutex> g(HookMutex());
    Hook() = std::move(factory);
}

}  // namespace avs::dshow
