// The source's pictures through the system's DirectShow: the file's source filter
// (AddSourceFilter), the separately registered sample grabber told to take uncompressed
// video (the graph manager puts the parser and decoder in between), and a null renderer.
// The grabber's callback runs on the streaming thread and queues each picture; next() takes
// them in order.
// clang-format off
#include "dshow/streams.h"
#include <dvdmedia.h>  // VIDEOINFOHEADER2
// clang-format on

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "com/comptr.h"
#include "tools/harrowgate/picture_scaler.h"
#include "tools/harrowgate/source_video.h"
#if __has_include("dshow/grabber.h")
#include "dshow/grabber.h"
#else
#include "dshow/ffmpeg/grabber.h"
#endif

namespace harrowgate {
namespace {

using avs::com::ComPtr;

// A FourCC subtype: {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID FourCcType(char a, char b, char c, char d) {
    return GUID{static_cast<unsigned long>(static_cast<unsigned char>(a)) |
                    static_cast<unsigned long>(static_cast<unsigned char>(b)) << 8 |
                    static_cast<unsigned long>(static_cast<unsigned char>(c)) << 16 |
                    static_cast<unsigned long>(static_cast<unsigned char>(d)) << 24,
                0x0000,
                0x0010,
                {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

struct Candidate {
    GUID subtype;
    PixelLayout layout;
};

// In order of preference: the encoder's own layout first, RGB last.
const Candidate kCandidates[] = {
    {FourCcType('I', '4', '2', '0'), PixelLayout::kI420},
    {FourCcType('I', 'Y', 'U', 'V'), PixelLayout::kI420},
    {FourCcType('Y', 'V', '1', '2'), PixelLayout::kYV12},
    {FourCcType('N', 'V', '1', '2'), PixelLayout::kNV12},
    {FourCcType('Y', 'U', 'Y', '2'), PixelLayout::kYUY2},
    {MEDIASUBTYPE_RGB24, PixelLayout::kRGB24},
    {MEDIASUBTYPE_RGB32, PixelLayout::kRGB32},
};

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION wanted, bool unconnected) {
    ComPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.Put())) || !pins) return {};
    for (;;) {
        ComPtr<IPin> pin;
        if (pins->Next(1, pin.Put(), nullptr) != S_OK) return {};
        PIN_DIRECTION dir;
        if (FAILED(pin->QueryDirection(&dir)) || dir != wanted) continue;
        if (unconnected) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer) continue;
        }
        return pin;
    }
}

// The stream's length in 100 ns units, 0 when unknown: from the graph, or else from the
// pins upstream of the grabber (a grabber need not pass seeking on).
int64_t Duration(IMediaSeeking* graph, IPin* grabber_in) {
    LONGLONG duration = 0;
    if (graph != nullptr && SUCCEEDED(graph->GetDuration(&duration)) && duration > 0)
        return duration;
    ComPtr<IPin> pin(grabber_in);
    for (int hop = 0; hop < 8 && pin; ++hop) {
        ComPtr<IPin> upstream;
        if (FAILED(pin->ConnectedTo(upstream.Put())) || !upstream) return 0;
        if (ComPtr<IMediaSeeking> seeking = upstream.As<IMediaSeeking>(IID_IMediaSeeking)) {
            if (SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0) return duration;
        }
        PIN_INFO info{};
        if (FAILED(upstream->QueryPinInfo(&info)) || info.pFilter == nullptr) return 0;
        ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
        pin = FindPin(filter.Get(), PINDIR_INPUT, false);
    }
    return 0;
}

struct Picture {
    std::vector<uint8_t> bytes;
    REFERENCE_TIME start = 0;
    bool timed = false;
};

}  // namespace

struct SourceVideo::State {
    bool com_started = false;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> grabber;
    ComPtr<ISampleGrabberFilter> grab;
    PixelLayout layout = PixelLayout::kI420;
    int width = 0;
    int height = 0;
    int stride = 0;
    double fps = 25.0;
    int64_t duration_100ns = 0;
    int out_width = 0;
    int out_height = 0;
    int frame_width = 0;
    int frame_height = 0;
    Frame scaled;  // the picture at its own size, when frames are larger
    bool running = false;
    bool ended = false;
    int64_t last_time_ms = -1;

    // Between the streaming thread and next().
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Picture> queue;
    bool stopping = false;

    ~State();
    void Stop();
};

namespace {

// The grabber's callback has no context, and a process reads one source: the state of the
// open source is kept here.
std::atomic<SourceVideo::State*> g_source{nullptr};
constexpr size_t kQueueDepth = 8;

HRESULT OnGrabbedPicture(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* /*stop*/,
                         BOOL /*type_changed*/) {
    SourceVideo::State* s = g_source.load();
    if (s == nullptr || sample == nullptr) return S_OK;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) return S_OK;
    const LONG length = sample->GetActualDataLength();
    Picture picture;
    picture.bytes.assign(data, data + std::max<LONG>(length, 0));
    REFERENCE_TIME t0 = 0, t1 = 0;
    picture.timed = sample->GetTime(&t0, &t1) == S_OK || (start != nullptr && *start != 0);
    picture.start = picture.timed && start != nullptr ? *start : t0;
    std::unique_lock<std::mutex> hold(s->lock);
    // The encoder is slower than the decoder: hold the streaming thread back rather than
    // keep every picture of the file in memory.
    s->changed.wait(hold, [&] { return s->stopping || s->queue.size() < kQueueDepth; });
    if (s->stopping) return S_OK;
    s->queue.push_back(std::move(picture));
    s->changed.notify_all();
    return S_OK;
}

}  // namespace

void SourceVideo::State::Stop() {
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
        changed.notify_all();
    }
    // Stopping joins the streaming thread, so no callback reaches this state afterwards.
    if (control) control->Stop();
    running = false;
}

SourceVideo::State::~State() {
    Stop();
    if (g_source.load() == this) g_source.store(nullptr);
    grab.Reset();
    grabber.Reset();
    source.Reset();
    seeking.Reset();
    events.Reset();
    control.Reset();
    graph.Reset();
    if (com_started) CoUninitialize();
}

SourceVideo::SourceVideo(const std::string& path) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.com_started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const std::string quoted = "\"" + path + "\"";
    if (GetFileAttributesW(Widen(path).c_str()) == INVALID_FILE_ATTRIBUTES)
        throw SourceError("cannot open source " + quoted + ": No such file or directory");

    HRESULT hr = CoCreateInstance(CLSID_SampleGrabberFilter, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IBaseFilter, s.grabber.PutVoid());
    if (FAILED(hr))
        throw SourceError(
            "cannot create the sample grabber {2FA4F053-6D60-4CB0-9503-8E89234F3F73} (" +
            HresultText(hr) + "): is SampleGrabberFilter.dll registered?");
    s.grab = s.grabber.As<ISampleGrabberFilter>(IID_ISampleGrabberFilter);
    if (!s.grab) throw SourceError("the sample grabber lacks its interface");
    s.grab->SetCallback(OnGrabbedPicture);

    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          s.graph.PutVoid());
    if (FAILED(hr)) throw SourceError("cannot create a filter graph (" + HresultText(hr) + ")");
    s.control = s.graph.As<IMediaControl>(IID_IMediaControl);
    s.events = s.graph.As<IMediaEvent>(IID_IMediaEvent);
    s.seeking = s.graph.As<IMediaSeeking>(IID_IMediaSeeking);
    if (!s.control || !s.events) throw SourceError("the filter graph lacks its interfaces");

    hr = s.graph->AddSourceFilter(Widen(path).c_str(), L"Source", s.source.Put());
    if (FAILED(hr))
        throw SourceError("cannot open source " + quoted + ": no source filter (" +
                          HresultText(hr) + ")");
    s.graph->AddFilter(s.grabber.Get(), L"Grabber");

    // The first uncompressed layout the graph can deliver, from the first source pin that
    // leads to video.
    ComPtr<IPin> grabber_in = FindPin(s.grabber.Get(), PINDIR_INPUT, false);
    bool connected = false;
    for (const Candidate& c : kCandidates) {
        AM_MEDIA_TYPE accepted{};
        accepted.majortype = MEDIATYPE_Video;
        accepted.subtype = c.subtype;
        s.grab->SetAcceptedMediaType(&accepted);
        ComPtr<IEnumPins> pins;
        if (FAILED(s.source->EnumPins(pins.Put())) || !pins) break;
        for (;;) {
            ComPtr<IPin> pin;
            if (pins->Next(1, pin.Put(), nullptr) != S_OK) break;
            PIN_DIRECTION dir;
            if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) continue;
            if (SUCCEEDED(s.graph->Connect(pin.Get(), grabber_in.Get()))) {
                connected = true;
                break;
            }
        }
        if (connected) break;
    }
    if (!connected)
        throw SourceError("source " + quoted + " has no video stream that can be decoded");

    AM_MEDIA_TYPE mt{};
    if (FAILED(s.grab->GetConnectedMediaType(&mt)))
        throw SourceError("cannot read the picture format of " + quoted);
    const BITMAPINFOHEADER* bih = nullptr;
    REFERENCE_TIME frame_time = 0;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        bih = &vih->bmiHeader;
        frame_time = vih->AvgTimePerFrame;
    } else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
        bih = &vih->bmiHeader;
        frame_time = vih->AvgTimePerFrame;
    }
    for (const Candidate& c : kCandidates) {
        if (c.subtype == mt.subtype) s.layout = c.layout;
    }
    if (bih != nullptr) {
        s.width = bih->biWidth;
        s.height = std::abs(bih->biHeight);
        // Rows of RGB are padded to four bytes; planar rows are the width.
        switch (s.layout) {
            case PixelLayout::kRGB24:
                s.stride = (s.width * 3 + 3) & ~3;
                break;
            case PixelLayout::kRGB32:
                s.stride = s.width * 4;
                break;
            case PixelLayout::kYUY2:
                s.stride = s.width * 2;
                break;
            default:
                s.stride = s.width;
                break;
        }
    }
    FreeMediaType(mt);
    if (s.width <= 0 || s.height <= 0)
        throw SourceError("source " + quoted + " has a video stream without a picture size");
    if (frame_time > 0) s.fps = 10000000.0 / static_cast<double>(frame_time);
    s.out_width = s.width;
    s.out_height = s.height;
    s.frame_width = s.width;
    s.frame_height = s.height;

    // Pictures go on to a null renderer; without a clock the graph runs as fast as it can.
    ComPtr<IBaseFilter> renderer;
    if (SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.PutVoid()))) {
        s.graph->AddFilter(renderer.Get(), L"Renderer");
        ComPtr<IPin> out = FindPin(s.grabber.Get(), PINDIR_OUTPUT, true);
        ComPtr<IPin> in = FindPin(renderer.Get(), PINDIR_INPUT, true);
        if (out && in) s.graph->ConnectDirect(out.Get(), in.Get(), nullptr);
    }
    if (ComPtr<IMediaFilter> filter = s.graph.As<IMediaFilter>(IID_IMediaFilter))
        filter->SetSyncSource(nullptr);
    s.duration_100ns = Duration(s.seeking.Get(), grabber_in.Get());
}

SourceVideo::~SourceVideo() = default;

int SourceVideo::Width() const {
    return state_->width;
}
int SourceVideo::Height() const {
    return state_->height;
}
double SourceVideo::FrameRate() const {
    return state_->fps;
}

int64_t SourceVideo::ExpectedFrames() const {
    return static_cast<int64_t>(std::llround(state_->duration_100ns / 1e7 * state_->fps));
}

void SourceVideo::SetOutputSize(int width, int height, int frame_width, int frame_height) {
    state_->out_width = width;
    state_->out_height = height;
    state_->frame_width = std::max(width, frame_width);
    state_->frame_height = std::max(height, frame_height);
}

bool SourceVideo::Next(Frame& frame, int64_t& time_ms) {
    State& s = *state_;
    if (!s.running && !s.ended) {
        g_source.store(&s);
        if (FAILED(s.control->Run())) throw SourceError("the source's graph does not run");
        s.running = true;
    }
    Picture picture;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(s.lock);
            s.changed.wait_for(hold, std::chrono::milliseconds(20),
                               [&] { return !s.queue.empty(); });
            if (!s.queue.empty()) {
                picture = std::move(s.queue.front());
                s.queue.pop_front();
                s.changed.notify_all();
                break;
            }
            if (s.ended) return false;
        }
        // The end of the stream, or a graph that gave up: every picture it delivered came
        // through the callback before the renderer saw the end.
        long code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        while (s.events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
            s.events->FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) {
                std::lock_guard<std::mutex> hold(s.lock);
                s.ended = true;
            }
        }
    }

    frame.Resize(s.frame_width, s.frame_height);
    const bool padded = s.frame_width != s.out_width || s.frame_height != s.out_height;
    if (padded) s.scaled.Resize(s.out_width, s.out_height);
    SourcePicture source;
    source.layout = s.layout;
    source.width = s.width;
    source.height = s.height;
    source.stride = s.stride;
    // A decoder may pad its rows beyond the width the format block gives: the sample's size
    // tells by how much.
    if (PictureBytes(s.layout, s.width, s.height, s.stride) != picture.bytes.size()) {
        for (int pad = 1; pad <= 64; ++pad) {
            if (PictureBytes(s.layout, s.width, s.height, s.stride + pad) == picture.bytes.size()) {
                source.stride = s.stride + pad;
                break;
            }
        }
    }
    source.data = picture.bytes.data();
    source.size = picture.bytes.size();
    if (!ConvertPicture(source, padded ? s.scaled : frame))
        throw SourceError("a picture of the source is cut short");
    if (padded) {
        const Plane* from[3] = {&s.scaled.luma, &s.scaled.cb, &s.scaled.cr};
        Plane* to[3] = {&frame.luma, &frame.cb, &frame.cr};
        for (int i = 0; i < 3; ++i)
            for (int y = 0; y < from[i]->height; ++y)
                std::memcpy(to[i]->Row(y), from[i]->Row(y), static_cast<size_t>(from[i]->width));
        ExtendFrameEdges(frame, s.out_width, s.out_height);
    }

    int64_t ms;
    if (picture.timed) {
        ms = std::llround(static_cast<double>(picture.start) / 10000.0);
    } else {
        ms = s.last_time_ms < 0 ? 0 : s.last_time_ms + std::llround(1000.0 / s.fps);
    }
    // Coding order is display order here, so time stamps must not go backwards.
    if (ms <= s.last_time_ms) ms = s.last_time_ms + 1;
    s.last_time_ms = ms;
    time_ms = ms;
    return true;
}

}  // namespace harrowgate
