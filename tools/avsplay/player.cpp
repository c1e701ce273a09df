#include "tools/avsplay/player.h"

#include <cinttypes>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "dshow/runtime.h"
#include "tools/avsplay/rtsp_source.h"
#include "tools/avsplay/stream_sink.h"

namespace avsplay {

using avs::com::ComPtr;

namespace {

std::string hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

bool HasOpenOutput(IBaseFilter* filter) {
    for (auto& pin : avs::dshow::FilterPins(filter)) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        pin->QueryDirection(&dir);
        ComPtr<IPin> peer;
        pin->ConnectedTo(peer.Put());
        if (dir == PINDIR_OUTPUT && !peer) return true;
    }
    return false;
}

std::string PinName(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return "stream";
    if (info.pFilter != nullptr) info.pFilter->Release();
    std::string name;
    for (const WCHAR* c = info.achName; *c != 0; ++c) name += static_cast<char>(*c);
    return name;
}

// "video" or "audio" from the connection type, else the pin's name.
std::string StreamName(IPin* pin) {
    AM_MEDIA_TYPE mt{};
    std::string name;
    if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
        if (mt.majortype == MEDIATYPE_Video) name = "video";
        if (mt.majortype == MEDIATYPE_Audio) name = "audio";
        FreeMediaType(mt);
    }
    return name.empty() ? PinName(pin) : name;
}

struct Stream {
    ComPtr<IPin> pin;
    ComPtr<IBaseFilter> renderer;
    std::unique_ptr<StreamSink> sink;
};

}  // namespace

HRESULT OpenFileSource(IGraphBuilder* graph, const std::string& path, IBaseFilter** source,
                       std::string& error) {
    *source = nullptr;
    std::wstring wide(path.begin(), path.end());
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        error = "cannot open " + path;
        return E_FAIL;
    }
    HRESULT hr = graph->RenderFile(wide.c_str(), nullptr);
    if (FAILED(hr)) {
        error = "no registered filter plays " + path + " (" + hex(hr) +
                "); are the filter modules registered?";
        return hr;
    }
    ComPtr<IEnumFilters> filters;
    graph->EnumFilters(filters.Put());
    IBaseFilter* f = nullptr;
    ULONG got = 0;
    while (filters && filters->Next(1, &f, &got) == S_OK && got == 1) {
        ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(f);
        if (HasOpenOutput(filter.Get())) {
            *source = filter.Detach();
            return S_OK;
        }
    }
    error = path + " has no stream left to capture";
    return E_FAIL;
}

int PlaySource(IGraphBuilder* graph, IBaseFilter* source, const Options& options, FILE* out,
               FILE* progress) {
    std::unique_ptr<SampleLog> log;
    std::vector<Stream> streams;
    try {
        if (!options.log.empty()) log = std::make_unique<SampleLog>(options.log);
        for (auto& pin : avs::dshow::FilterPins(source)) {
            PIN_DIRECTION dir = PINDIR_INPUT;
            pin->QueryDirection(&dir);
            ComPtr<IPin> peer;
            pin->ConnectedTo(peer.Put());
            if (dir != PINDIR_OUTPUT || peer) continue;
            Stream s;
            s.pin = pin;
            // The sink is made once the connection tells which stream this is;
            // nothing is delivered before that.
            auto slot = std::make_shared<StreamSink*>(nullptr);
            HRESULT hr = avs::dshow::CreateCaptureRenderer(
                [slot](const avs::dshow::CaptureEvent& e) {
                    if (*slot != nullptr) (*slot)->on_event(e);
                },
                s.renderer.Put());
            if (FAILED(hr)) throw std::runtime_error("cannot create a renderer (" + hex(hr) + ")");
            const std::wstring name = L"Capture " + std::to_wstring(streams.size() + 1);
            graph->AddFilter(s.renderer.Get(), name.c_str());
            ComPtr<IPin> in = avs::dshow::FirstPin(s.renderer.Get(), PINDIR_INPUT);
            hr = graph->Connect(pin.Get(), in.Get());
            if (FAILED(hr)) {
                std::fprintf(stderr, "avsplay: stream %s cannot be connected (%s)\n",
                             PinName(pin.Get()).c_str(), hex(hr).c_str());
                graph->RemoveFilter(s.renderer.Get());
                continue;
            }
            const std::string kind = StreamName(pin.Get());
            const std::string& path = kind == "video"   ? options.video_out
                                      : kind == "audio" ? options.audio_out
                                                        : std::string();
            s.sink = std::make_unique<StreamSink>(kind, path, log.get(),
                                                  options.decode && kind == "video");
            *slot = s.sink.get();
            streams.push_back(std::move(s));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "avsplay: %s\n", e.what());
        return 1;
    }
    if (streams.empty()) {
        std::fprintf(stderr, "avsplay: the source offers no stream to play\n");
        return 1;
    }
    auto control = ComPtr<IGraphBuilder>(graph).As<IMediaControl>(IID_IMediaControl);
    auto event = ComPtr<IGraphBuilder>(graph).As<IMediaEvent>(IID_IMediaEvent);
    auto filter = ComPtr<IGraphBuilder>(graph).As<IMediaFilter>(IID_IMediaFilter);
    auto seeking = ComPtr<IGraphBuilder>(graph).As<IMediaSeeking>(IID_IMediaSeeking);
    if (!control || !event) {
        std::fprintf(stderr, "avsplay: the graph cannot be run\n");
        return 1;
    }
    // No clock (files): samples go through as fast as the streams deliver them.
    if (filter && !options.real_time) filter->SetSyncSource(nullptr);
    if (options.seek_seconds) {
        LONGLONG position = static_cast<LONGLONG>(std::llround(*options.seek_seconds * 1e7));
        HRESULT hr = seeking ? seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning,
                                                     nullptr, AM_SEEKING_NoPositioning)
                             : E_NOINTERFACE;
        if (FAILED(hr)) {
            std::fprintf(stderr, "avsplay: cannot seek (%s)\n", hex(hr).c_str());
            return 1;
        }
    }
    HRESULT hr = control->Run();
    if (FAILED(hr)) {
        std::fprintf(stderr, "avsplay: cannot run the graph (%s)\n", hex(hr).c_str());
        control->Stop();
        return 1;
    }
    LONG code = 0;
    for (;;) {
        hr = event->WaitForCompletion(100, &code);
        if (hr != E_ABORT) break;
        if (progress != nullptr) {
            std::fprintf(progress, "\ravsplay:");
            for (auto& s : streams)
                std::fprintf(progress, " %s %" PRIu64 " samples", s.sink->name().c_str(),
                             s.sink->samples());
            std::fflush(progress);
        }
    }
    if (progress != nullptr) std::fprintf(progress, "\n");
    control->Stop();

    bool ok = SUCCEEDED(hr) && code == EC_COMPLETE;
    if (!ok)
        std::fprintf(stderr, "avsplay: playback did not complete (%s, event %ld)\n",
                     hex(hr).c_str(), long(code));
    bool written = log ? log->close() : true;
    for (auto& s : streams) {
        written = s.sink->finish() && written;
        std::fprintf(out, "%s\n", s.sink->summary().c_str());
        ok = ok && s.sink->ended();
    }
    if (!written) std::fprintf(stderr, "avsplay: writing an output file failed\n");
    return ok && written ? 0 : 1;
}

int Run(const Options& options, FILE* out, FILE* progress) {
    CoInitialize(nullptr);
    int code = 1;
    {
        ComPtr<IGraphBuilder> graph;
        HRESULT hr = avs::dshow::CreateFilterGraph(graph.Put());
        if (FAILED(hr)) {
            std::fprintf(stderr, "avsplay: cannot create a filter graph (%s)\n", hex(hr).c_str());
        } else {
            ComPtr<IBaseFilter> source;
            std::string error;
            Options run = options;
            // A server's stream plays in real time: the stream source ends it
            // once its queues run dry near the end, which must not happen early.
            run.real_time = IsRtspAddress(options.input);
            hr = run.real_time ? OpenRtspSource(graph.Get(), options.input, source.Put(), error)
                               : OpenFileSource(graph.Get(), options.input, source.Put(), error);
            if (FAILED(hr))
                std::fprintf(stderr, "avsplay: %s\n", error.c_str());
            else
                code = PlaySource(graph.Get(), source.Get(), run, out, progress);
        }
    }
    CoUninitialize();
    return code;
}

}  // namespace avsplay
