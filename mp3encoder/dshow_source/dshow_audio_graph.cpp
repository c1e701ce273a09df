#include "mp3encoder/dshow_source/dshow_audio_graph.h"

#include <atomic>

#include "dshow/grabber.h"

namespace quenby {
namespace {

using avs::com::ComPtr;

// The filter's first pin of one direction.
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.Put())) || !pins) return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.Put(), nullptr) != S_OK) return {};
        PIN_DIRECTION dir = PINDIR_INPUT;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) return pin;
    }
}

// The grabber's callback carries no context, and one process runs one graph: the sink of
// the running graph is kept here.
std::atomic<PcmSampleSink*> g_sink{nullptr};

HRESULT OnGrabbedSample(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                        BOOL /*type_changed*/) {
    PcmSampleSink* sink = g_sink.load();
    if (sink == nullptr || sample == nullptr) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) data = nullptr;
    const LONG length = data != nullptr ? sample->GetActualDataLength() : 0;
    const int r =
        sink->OnSample(data, length > 0 ? static_cast<std::size_t>(length) : 0, *start, *stop);
    return r < 0 ? E_FAIL : S_OK;
}

}  // namespace

struct DshowAudioGraph::Interfaces {
    ComPtr<IBaseFilter> grabber;
    ComPtr<ISampleGrabberFilter> grab;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> filter;
    ComPtr<IMediaEvent> event;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> renderer;

    ~Interfaces() {
        if (control) control->Stop();
    }
};

DshowAudioGraph::DshowAudioGraph() = default;
DshowAudioGraph::~DshowAudioGraph() = default;

GraphBuildResult DshowAudioGraph::Build(const std::string& path) {
    com_ = std::make_unique<Interfaces>();
    Interfaces& c = *com_;

    // The grabber takes PCM audio in whatever format block the source gives.
    if (FAILED(CoCreateInstance(CLSID_SampleGrabberFilter, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IBaseFilter, c.grabber.PutVoid())))
        return GraphBuildResult::kNotConnected;
    c.grab = c.grabber.As<ISampleGrabberFilter>(IID_ISampleGrabberFilter);
    if (!c.grab) return GraphBuildResult::kNotConnected;
    c.grab->SetCallback(OnGrabbedSample);
    AM_MEDIA_TYPE accepted{};
    accepted.majortype = MEDIATYPE_Audio;
    accepted.subtype = MEDIASUBTYPE_PCM;
    c.grab->SetAcceptedMediaType(&accepted);

    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                c.graph.PutVoid())))
        return GraphBuildResult::kSourceNotFound;
    c.seeking = c.graph.As<IMediaSeeking>(IID_IMediaSeeking);
    c.control = c.graph.As<IMediaControl>(IID_IMediaControl);
    c.filter = c.graph.As<IMediaFilter>(IID_IMediaFilter);
    c.event = c.graph.As<IMediaEvent>(IID_IMediaEvent);
    if (!c.seeking || !c.control || !c.filter || !c.event) return GraphBuildResult::kSourceNotFound;

    if (FAILED(c.graph->AddSourceFilter(avs::com::Widen(path).c_str(), L"Source", c.source.Put())))
        return GraphBuildResult::kSourceNotFound;
    c.graph->AddFilter(c.grabber.Get(), L"Grabber");

    ComPtr<IEnumPins> pins;
    if (FAILED(c.source->EnumPins(pins.Put())) || !pins)
        return GraphBuildResult::kPinsNotEnumerable;
    ComPtr<IPin> grabber_in = FirstPin(c.grabber.Get(), PINDIR_INPUT);
    HRESULT connected = VFW_E_CANNOT_CONNECT;
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.Put(), nullptr) != S_OK) break;
        PIN_DIRECTION dir = PINDIR_INPUT;
        pin->QueryDirection(&dir);
        if (dir != PINDIR_OUTPUT) continue;
        connected = c.graph->Connect(pin.Get(), grabber_in.Get());
        if (connected == S_OK) break;
    }
    // A success code other than S_OK also counts as connected.
    if (FAILED(connected)) return GraphBuildResult::kNotConnected;

    if (SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, c.renderer.PutVoid()))) {
        c.graph->AddFilter(c.renderer.Get(), L"Renderer");
        ComPtr<IPin> out = FirstPin(c.grabber.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> in = FirstPin(c.renderer.Get(), PINDIR_INPUT);
        if (out && in) c.graph->Connect(out.Get(), in.Get());
    }

    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(c.grab->GetConnectedMediaType(&mt))) {
        if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
            const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
            format_.channels = wfx->nChannels;
            format_.sample_rate = wfx->nSamplesPerSec;
        }
        FreeMediaType(mt);
    }
    return GraphBuildResult::kOk;
}

bool DshowAudioGraph::RemoveClock() {
    return com_ && com_->filter && SUCCEEDED(com_->filter->SetSyncSource(nullptr));
}

bool DshowAudioGraph::RunToCompletion(PcmSampleSink& sink) {
    if (!com_ || !com_->control) return false;
    g_sink.store(&sink);
    bool ran = SUCCEEDED(com_->control->Run());
    if (ran) {
        LONG code = 0;
        com_->event->WaitForCompletion(static_cast<LONG>(INFINITE), &code);
    }
    // Stopping joins the streaming threads, so no callback reaches the sink after this.
    com_->control->Stop();
    g_sink.store(nullptr);
    return ran;
}

}  // namespace quenby
