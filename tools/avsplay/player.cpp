#include "tools/avsplay/player.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "com/memory.h"
#include "dshow/runtime.h"
#include "files/files.h"
#include "tools/avsplay/parser_refusal.h"
#include "tools/avsplay/rtsp_source.h"
#include "tools/avsplay/stream_sink.h"

namespace avsplay {

using avs::com::ComPtr;

namespace {

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string PinName(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return "stream";
    if (info.pFilter != nullptr) info.pFilter->Release();
    return avs::com::Narrow(info.achName);
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

// Capture renderers take the streams a source delivers, never a file's raw bytes: a
// graph manager that tries the renderers already in the graph first must pass the bytes
// on to the registered parsers.
bool IsDeliveredStream(const AM_MEDIA_TYPE& mt) {
    return mt.majortype != MEDIATYPE_Stream;
}

// A file's container holds at most a video and an audio stream.
constexpr int kFileStreams = 2;

}  // namespace

struct Stream {
    ComPtr<IPin> pin;  // the source's pin, once connected
    ComPtr<IBaseFilter> renderer;
    // The sink is made once the connection tells which stream this is; nothing is
    // delivered before that.
    std::shared_ptr<StreamSink*> slot = std::make_shared<StreamSink*>(nullptr);
    std::unique_ptr<StreamSink> sink;
};

namespace {

HRESULT AddCapture(IGraphBuilder* graph, std::vector<Stream>& streams) {
    Stream s;
    auto slot = s.slot;
    HRESULT hr = avs::dshow::CreateCaptureRenderer(
        [slot](const avs::dshow::CaptureEvent& e) {
            if (*slot != nullptr) (*slot)->OnEvent(e);
        },
        s.renderer.Put(), IsDeliveredStream);
    if (FAILED(hr)) return hr;
    const std::wstring name = L"Capture " + std::to_wstring(streams.size() + 1);
    hr = graph->AddFilter(s.renderer.Get(), name.c_str());
    if (FAILED(hr)) return hr;
    streams.push_back(std::move(s));
    return S_OK;
}

// The position of `pin` among the filter's pins (for a stable stream order).
size_t PinIndex(IBaseFilter* filter, IPin* pin) {
    size_t i = 0;
    for (auto& p : avs::dshow::FilterPins(filter)) {
        if (p.Get() == pin) return i;
        ++i;
    }
    return i;
}

}  // namespace

HRESULT OpenFileSource(IGraphBuilder* graph, const std::string& path, IBaseFilter** source,
                       std::vector<Stream>& streams, std::string& error) {
    *source = nullptr;
    if (FILE* f = avs::files::OpenStream(path, "rb")) {
        std::fclose(f);
    } else {
        error = "cannot open " + path;
        return E_FAIL;
    }
    // The renderers are in the graph before RenderFile, so the graph manager connects the
    // parser's streams to them instead of looking for decoders.
    for (int i = 0; i < kFileStreams; ++i) {
        HRESULT hr = AddCapture(graph, streams);
        if (FAILED(hr)) {
            error = "cannot create a renderer (" + Hex(hr) + ")";
            return hr;
        }
    }
    HRESULT hr = graph->RenderFile(avs::com::Widen(path).c_str(), nullptr);
    if (FAILED(hr)) {
        if (auto why = ParserRefusal(path))
            error = path + " was refused by the registered parsers: " + *why;
        else
            error = "no registered filter plays " + path + " (" + Hex(hr) +
                    "); are the filter modules registered?";
        return hr;
    }
    std::vector<Stream> connected;
    for (auto& s : streams) {
        ComPtr<IPin> in = avs::dshow::FirstPin(s.renderer.Get(), PINDIR_INPUT);
        s.pin = in ? avs::dshow::PinPeer(in.Get()) : ComPtr<IPin>();
        if (s.pin)
            connected.push_back(std::move(s));
        else
            graph->RemoveFilter(s.renderer.Get());
    }
    streams = std::move(connected);
    if (streams.empty()) {
        error = path + " has no stream left to capture";
        return E_FAIL;
    }
    ComPtr<IBaseFilter> owner = avs::dshow::PinOwner(streams.front().pin.Get());
    std::stable_sort(streams.begin(), streams.end(), [&](const Stream& a, const Stream& b) {
        return PinIndex(owner.Get(), a.pin.Get()) < PinIndex(owner.Get(), b.pin.Get());
    });
    *source = owner.Detach();
    return S_OK;
}

int PlaySource(IGraphBuilder* graph, IBaseFilter* source, std::vector<Stream>& streams,
               const Options& options, FILE* out, FILE* progress) {
    std::unique_ptr<SampleLog> log;
    try {
        if (!options.log.empty()) log = std::make_unique<SampleLog>(options.log);
        for (auto& pin : avs::dshow::FilterPins(source)) {
            if (avs::dshow::PinDirection(pin.Get()) != PINDIR_OUTPUT ||
                avs::dshow::PinPeer(pin.Get()))
                continue;
            HRESULT hr = AddCapture(graph, streams);
            if (FAILED(hr)) throw std::runtime_error("cannot create a renderer (" + Hex(hr) + ")");
            Stream& s = streams.back();
            ComPtr<IPin> in = avs::dshow::FirstPin(s.renderer.Get(), PINDIR_INPUT);
            hr = graph->Connect(pin.Get(), in.Get());
            if (FAILED(hr)) {
                std::fprintf(stderr, "avsplay: stream %s cannot be connected (%s)\n",
                             PinName(pin.Get()).c_str(), Hex(hr).c_str());
                graph->RemoveFilter(s.renderer.Get());
                streams.pop_back();
                continue;
            }
            s.pin = pin;
        }
        for (auto& s : streams) {
            const std::string kind = StreamName(s.pin.Get());
            const std::string& path = kind == "video"   ? options.video_out
                                      : kind == "audio" ? options.audio_out
                                                        : std::string();
            s.sink = std::make_unique<StreamSink>(kind, path, log.get(),
                                                  options.decode && kind == "video");
            *s.slot = s.sink.get();
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
            std::fprintf(stderr, "avsplay: cannot seek (%s)\n", Hex(hr).c_str());
            return 1;
        }
    }
    HRESULT hr = control->Run();
    if (FAILED(hr)) {
        std::fprintf(stderr, "avsplay: cannot run the graph (%s)\n", Hex(hr).c_str());
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
                std::fprintf(progress, " %s %" PRIu64 " samples", s.sink->Name().c_str(),
                             s.sink->Samples());
            std::fflush(progress);
        }
    }
    if (progress != nullptr) std::fprintf(progress, "\n");
    control->Stop();

    bool ok = SUCCEEDED(hr) && code == EC_COMPLETE;
    if (!ok)
        std::fprintf(stderr, "avsplay: playback did not complete (%s, event %ld)\n",
                     Hex(hr).c_str(), long(code));
    bool written = log ? log->Close() : true;
    for (auto& s : streams) {
        written = s.sink->Finish() && written;
        std::fprintf(out, "%s\n", s.sink->Summary().c_str());
        ok = ok && s.sink->Ended();
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
            std::fprintf(stderr, "avsplay: cannot create a filter graph (%s)\n", Hex(hr).c_str());
        } else {
            ComPtr<IBaseFilter> source;
            std::vector<Stream> streams;
            std::string error;
            Options run = options;
            // A server's stream plays in real time: the stream source ends it
            // once its queues run dry near the end, which must not happen early.
            run.real_time = IsRtspAddress(options.input);
            hr = run.real_time
                     ? OpenRtspSource(graph.Get(), options.input, source.Put(), error)
                     : OpenFileSource(graph.Get(), options.input, source.Put(), streams, error);
            if (FAILED(hr))
                std::fprintf(stderr, "avsplay: %s\n", error.c_str());
            else
                code = PlaySource(graph.Get(), source.Get(), streams, run, out, progress);
        }
    }
    CoUninitialize();
    return code;
}

}  // namespace avsplay
