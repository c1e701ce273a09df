#include "rtspstream/tallowmere.h"

#include <cwchar>

#include "filtermodule/creators.h"
#include "filtermodule/module_ids.h"
#include "filtermodule/seeking_stream.h"
#include "filtermodule/source_interfaces.h"
#include "rtspstream/rtsp_audio_stream.h"
#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/status_listener.h"
#include "rtspstream/trace.h"

namespace rtspstream {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

void TraceToHook(const char* line) {
    AvsTrace("%s", line);
}

}  // namespace

CUnknown* WINAPI CTallowmere::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return filtermodule::NewFilterInstance(
        phr, [&] { return new (std::nothrow) CTallowmere(pUnk, phr); });
}

CTallowmere::CTallowmere(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(TEXT("Tallowmere"), pUnk, CLSID_Tallowmere, phr) {
    if (AvsTraceEnabled()) SetTraceSink(&TraceToHook);
}

CTallowmere::~CTallowmere() {
    AvsTrace("CTallowmere::~CTallowmere()");
    StatusListener::Module().Forget(this);
    receive_.reset();  // TEARDOWN when still connected; no frame arrives after this
}

STDMETHODIMP CTallowmere::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFileSourceFilter)
        return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
    if (riid == IID_ISamplePosition) return GetInterface(static_cast<ISamplePosition*>(this), ppv);
    return filtermodule::QuerySourceInterfaces(this, riid, ppv);
}

void SharedPlayState::SetBuffering(bool on) {
    if (buffering_.exchange(on) == on) return;
    for (const auto& wake : wake_)
        if (HANDLE event = wake.load()) SetEvent(event);
}

void SharedPlayState::AddWakeEvent(HANDLE event) {
    for (auto& wake : wake_) {
        HANDLE none = nullptr;
        if (wake.compare_exchange_strong(none, event)) return;
    }
}

bool CTallowmere::audio_drives_buffering() const {
    CRtspAudioStream* audio = audio_pin_;
    return has_audio_ && audio != nullptr && audio->IsConnected();
}

STDMETHODIMP CTallowmere::Load(LPCOLESTR address, const AM_MEDIA_TYPE*) {
    CheckPointer(address, E_POINTER);
    if (!loadable_) return S_FALSE;
    std::string copy = avs::com::Narrow(address);
    AvsTrace("CTallowmere::Load(%s)", copy.c_str());
    ReplaceAll(copy, "rtsp2:", "rtsp:");
    CAutoLock lock(&m_cStateLock);
    if (GetPinCount() > 0) return VFW_E_ALREADY_CONNECTED;
    live_ = copy.find(".asm") == std::string::npos;

    HRESULT hr = S_OK;
    auto receive = std::make_unique<CRtspReceive>(copy, this, &hr);
    if (FAILED(hr)) return hr;
    receive->SetClientConfig(client_config_);
    if (!receive->Init()) {
        std::string text = "Failed to connect " + copy;
        MessageBox(nullptr, text.c_str(), nullptr, MB_OK);
        loadable_ = false;
        receive->OnThreadDestroy();
        return S_FALSE;
    }
    receive_ = std::move(receive);
    loadable_ = true;
    auto seconds = static_cast<int64_t>(receive_->duration());

    if (receive_->has_video()) {
        hr = S_OK;
        auto* pin = new (std::nothrow) CRtspVideoStream(&hr, this);
        if (pin == nullptr) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete pin;
            return hr;
        }
        const avs::AvsSequenceHeader& header = receive_->GetVideoHeader();
        pin->SetHeader(header.header_bytes, header.header_length, seconds);
        shared_.AddWakeEvent(pin->wake_event());
        video_pin_ = pin;
    }
    has_audio_ = false;
    if (receive_->has_audio()) {
        has_audio_ = true;
        hr = S_OK;
        auto* pin = new (std::nothrow) CRtspAudioStream(&hr, this);
        if (pin == nullptr) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
            delete pin;
            return hr;
        }
        pin->SetFormat(receive_->GetAudioFormat(), seconds);
        shared_.AddWakeEvent(pin->wake_event());
        audio_pin_ = pin;
    }
    url_ = address;
    StatusListener::Module().Start(this);
    return S_OK;
}

STDMETHODIMP CTallowmere::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE*) {
    CheckPointer(name, E_POINTER);
    *name = avs::com::CoTaskStrDup(url_.c_str());
    return *name == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP CTallowmere::QueryProgress(LONGLONG* total, LONGLONG* current) {
    CheckPointer(total, E_POINTER);
    CheckPointer(current, E_POINTER);
    if (GetPinCount() == 0) return E_UNEXPECTED;
    *total = 100;
    CRtspAudioStream* audio = audio_pin_;
    *current = audio ? audio->FillPercentage() : 100;
    return S_OK;
}

STDMETHODIMP CTallowmere::get_Title(BSTR* title) {
    CheckPointer(title, E_POINTER);
    if (GetPinCount() == 0 || !receive_) return E_UNEXPECTED;
    std::wstring wide;
    for (unsigned char c : receive_->title_url()) wide += static_cast<wchar_t>(c);
    *title = SysAllocString(wide.c_str());
    return *title == nullptr ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP CTallowmere::Restart() {
    IFilterGraph* graph = GetFilterGraph();
    if (graph == nullptr) return E_UNEXPECTED;
    IMediaControl* control = nullptr;
    IMediaSeeking* seeking = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking));
    if (control) control->Stop();
    if (seeking) {
        LONGLONG start = 0, stop = shared_.duration();
        seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                              AM_SEEKING_AbsolutePositioning);
    }
    if (control) control->Run();
    if (seeking) seeking->Release();
    if (control) control->Release();
    return S_OK;
}

STDMETHODIMP CTallowmere::GetQueuedVideoBytes(DWORD* bytes) {
    CheckPointer(bytes, E_POINTER);
    CRtspVideoStream* video = video_pin_;
    *bytes = video ? static_cast<DWORD>(video->queued_bytes()) : 0;
    return S_OK;
}

int CTallowmere::Deliver(bool is_video, const uint8_t* data, uint32_t length, int64_t time) {
    CRtspVideoStream* video = video_pin_;
    CRtspAudioStream* audio = audio_pin_;
    if (data == nullptr || (video == nullptr && audio == nullptr)) return -1;
    if (is_video) return video ? video->Deliver(data, length, time) : 0;
    return audio ? audio->Deliver(data, length, time) : 0;
}

void CTallowmere::FrameLost(bool is_video) {
    CRtspStream* pin = is_video ? static_cast<CRtspStream*>(video_pin_.load())
                                : static_cast<CRtspStream*>(audio_pin_.load());
    if (pin) pin->NoteLoss();
}

void CTallowmere::WakePins() {
    if (CRtspVideoStream* video = video_pin_) video->WakeWorker();
    if (CRtspAudioStream* audio = audio_pin_) audio->WakeWorker();
}

void CTallowmere::FlushPins() {
    if (CRtspVideoStream* video = video_pin_) video->FlushPin();
    if (CRtspAudioStream* audio = audio_pin_) audio->FlushPin();
}

STDMETHODIMP CTallowmere::Pause() {
    if (!loadable_) return S_FALSE;
    CAutoLock lock(&m_cStateLock);
    static const char* const kNames[] = {"Stoped", "Paused", "Running"};
    AvsTrace("CTallowmere::Pause(%s)", kNames[m_State]);
    if (m_State != State_Stopped) {
        if (!live_ && !prepared_) {
            FlushPins();
            if (receive_) receive_->Play();
            prepared_ = true;
        } else if (live_) {
            FlushPins();
            prepared_ = true;
        }
    } else if (receive_) {
        shared_.SetTimeOrigin(0);
        // A seek made while stopped: the video pin's, or an audio-only stream's.
        CRtspStream* sought = video_pin_.load();
        if (sought == nullptr) sought = audio_pin_.load();
        if (sought && sought->TakeSeekPending()) {
            // A fresh time line starts at the range's start.
            RtspClientSession* session = receive_->session();
            if (!receive_->connected() || (session && session->Timing().FirstPacket()))
                shared_.SetTimeOrigin(sought->segment_start());
            receive_->SetRange(static_cast<uint32_t>(sought->segment_start() / 10000),
                               static_cast<uint32_t>(sought->segment_stop() / 10000));
        }
        // The pins are ready for frames before the server starts sending them.
        if (video_pin_) video_pin_.load()->PrepareForPlay();
        if (audio_pin_) audio_pin_.load()->PrepareForPlay();
        receive_->OnThreadCreate();
        if (video_pin_) video_pin_.load()->MarkNewSegment();
        if (audio_pin_) audio_pin_.load()->MarkNewSegment();
        prepared_ = true;
    }
    HRESULT hr = CSource::Pause();
    WakePins();
    if (FAILED(hr))
        AvsTrace("CTallowmere::Pause() Return failed (0x%x)", static_cast<unsigned>(hr));
    return hr;
}

STDMETHODIMP CTallowmere::Run(REFERENCE_TIME start) {
    if (!loadable_) return S_FALSE;
    AvsTrace("CTallowmere::Run(%lld)", static_cast<long long>(start));
    FILTER_INFO info{};
    if (SUCCEEDED(QueryFilterInfo(&info)) && info.pGraph != nullptr) {
        AvsTrace("register to graph edit\n");
        info.pGraph->Release();
    } else {
        AvsTrace("failed to register to graph edit \n");
    }
    CAutoLock lock(&m_cStateLock);
    if (!prepared_) {
        FlushPins();
        if (receive_) receive_->Play();
        prepared_ = true;
    }
    HRESULT hr = CSource::Run(start);
    WakePins();
    return FAILED(hr) ? hr : S_OK;
}

STDMETHODIMP CTallowmere::Stop() {
    shared_.SetBaseTime(0);
    HRESULT hr;
    {
        CAutoLock lock(&m_cStateLock);
        shared_.SetBuffering(false);
        // The pins stop taking frames first: a receive thread held in a full
        // queue would otherwise leave TEARDOWN's reply unread.
        if (video_pin_) video_pin_.load()->StopDelivery();
        if (audio_pin_) audio_pin_.load()->StopDelivery();
        if (receive_) receive_->OnThreadDestroy();
        if (video_pin_) video_pin_.load()->StopDelivery();
        if (audio_pin_) audio_pin_.load()->StopDelivery();
        shared_.SetBuffering(true);
        hr = CSource::Stop();
    }
    if (FAILED(hr)) return hr;
    StatusListener::Module().Stop();
    return S_OK;
}

}  // namespace rtspstream

CUnknown* WINAPI CreateTallowmereInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return rtspstream::CTallowmere::CreateInstance(pUnk, phr);
}
