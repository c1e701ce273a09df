#include "filesource/branwick_source.h"

#include <cwchar>
#include <new>

#include "filesource/branwick_audio_stream.h"
#include "filesource/branwick_input_pin.h"
#include "filesource/branwick_video_stream.h"
#include "filesource/signature.h"
#include "filesource/upstream_reader.h"
#include "filtermodule/creators.h"
#include "filtermodule/module_ids.h"
#include "filtermodule/seeking_stream.h"
#include "filtermodule/source_interfaces.h"

namespace filesource {

CUnknown* WINAPI CBranwickSource::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return filtermodule::NewFilterInstance(
        phr, [&] { return new (std::nothrow) CBranwickSource(outer, phr); });
}

CBranwickSource::CBranwickSource(LPUNKNOWN outer, HRESULT* phr)
    : CSource(TEXT("CBranwickSource"), outer, CLSID_BranwickSource) {
    input_ = new (std::nothrow) CBranwickInputPin(this, phr);
    if (input_ == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CBranwickSource::~CBranwickSource() {
    delete input_;
    container_.reset();
    // CSource deletes the streams.
}

STDMETHODIMP CBranwickSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_ISamplePosition) return GetInterface(static_cast<ISamplePosition*>(this), ppv);
    return filtermodule::QuerySourceInterfaces(this, riid, ppv);
}

int CBranwickSource::GetPinCount() {
    return 1 + CSource::GetPinCount();
}

CBasePin* CBranwickSource::GetPin(int n) {
    CAutoLock lock(pStateLock());
    switch (n) {
        case 0:
            return input_;
        case 1:
            if (video_ != nullptr) return static_cast<CSourceStream*>(video_);
            return audio_ != nullptr ? static_cast<CSourceStream*>(audio_) : nullptr;
        case 2:
            return audio_ != nullptr ? static_cast<CSourceStream*>(audio_) : nullptr;
        default:
            return nullptr;
    }
}

STDMETHODIMP CBranwickSource::FindPin(LPCWSTR id, IPin** pin) {
    CheckPointer(id, E_POINTER);
    CheckPointer(pin, E_POINTER);
    // Output pins answer to the ids they report ("1", "2": their place in the
    // stream list); the input pin to its name.
    wchar_t* end = nullptr;
    const long i = std::wcstol(id, &end, 10);
    if (end != id && *end == 0) {
        CBasePin* p = CSource::GetPin(static_cast<int>(i) - 1);
        if (p != nullptr) {
            *pin = p;
            p->AddRef();
            return S_OK;
        }
    }
    return CBaseFilter::FindPin(id, pin);
}

STDMETHODIMP CBranwickSource::Stop() {
    HRESULT hr = CSource::Stop();
    // Rewound once the workers have stopped, so none can move past the rewind.
    CAutoLock lock(pStateLock());
    if (video_ != nullptr) video_->Rewind();
    if (audio_ != nullptr) audio_->Rewind();
    return hr;
}

void CBranwickSource::DropStreams() {
    delete video_;
    video_ = nullptr;
    delete audio_;
    audio_ = nullptr;
}

HRESULT CBranwickSource::Load() {
    if (GetPinCount() > 1) return VFW_E_ALREADY_CONNECTED;
    IAsyncReader* reader = input_->reader();
    if (reader == nullptr) return E_UNEXPECTED;
    {
        UpstreamReader probe(reader);
        if (!has_avs_signature(probe)) return E_ABORT;
    }
    std::unique_ptr<AvsContainer> container =
        AvsContainer::open(std::make_shared<UpstreamReader>(reader));
    if (!container) return E_ABORT;

    const uint32_t videos = container->track_count(kVideoHandler);
    const uint32_t audios = container->track_count(kAudioHandler);
    if (videos > 0) {
        HRESULT hr = S_OK;
        video_ = new (std::nothrow) CBranwickVideoStream(&hr, this);
        if (video_ == nullptr || FAILED(hr)) {
            AvsTrace("CBranwickSource::Load() Can't create CBranwickVideoStream instance");
            DropStreams();
            return E_ABORT;
        }
        if (video_->SetupTrack(container.get()) != 0) {
            DropStreams();
            return E_ABORT;
        }
    }
    if (audios > 0) {
        HRESULT hr = S_OK;
        audio_ = new (std::nothrow) CBranwickAudioStream(&hr, this);
        if (audio_ == nullptr || FAILED(hr)) {
            AvsTrace("CBranwickSource::Load() Can't create CBranwickAudioStream instance");
            // Streams that would point at a container that goes with this call.
            DropStreams();
            return E_ABORT;
        }
        audio_->SetupTrack(container.get());
    }
    container_ = std::move(container);
    return S_OK;
}

STDMETHODIMP_(ULONG) CBranwickSource::GetMiscFlags() {
    AvsTrace("CBranwickSource::GetMiscFlags()");
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

STDMETHODIMP CBranwickSource::QueryProgress(LONGLONG* total, LONGLONG* current) {
    AvsTrace("CBranwickSource::QueryProgress()");
    CAutoLock lock(pStateLock());
    if (!HasStreams()) return E_UNEXPECTED;
    const auto size = static_cast<LONGLONG>(container_->movie().FileSize());
    if (total != nullptr) *total = size;
    if (current != nullptr) *current = size;
    return S_OK;
}

STDMETHODIMP CBranwickSource::AbortOperation() {
    AvsTrace("CBranwickSource::AbortOperation()");
    return E_NOTIMPL;
}

STDMETHODIMP CBranwickSource::get_Title(BSTR* title) {
    CheckPointer(title, E_POINTER);
    AvsTrace("CBranwickSource::get_Title()");
    CAutoLock lock(pStateLock());
    if (!HasStreams()) return E_UNEXPECTED;
    *title = SysAllocString(kBranwickTitle);
    return *title != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBranwickSource::GetSamplePosition(LONGLONG* current, LONGLONG* total) {
    CAutoLock lock(pStateLock());
    CBranwickStream* s = video_ != nullptr ? static_cast<CBranwickStream*>(video_)
                                           : static_cast<CBranwickStream*>(audio_);
    if (s == nullptr) return S_FALSE;
    if (current != nullptr) *current = s->next_sample();
    if (total != nullptr) *total = s->sample_limit();  // the track's sample count
    return S_OK;
}

}  // namespace filesource

CUnknown* WINAPI CreateBranwickSourceInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return filesource::CBranwickSource::CreateInstance(pUnk, phr);
}
