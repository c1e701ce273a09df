#include "filter_harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "filesource/branwick_input_pin.h"

namespace filesource::test {

using avs::com::ComPtr;
using avs::dshow::CaptureEvent;

std::vector<Bytes> split_units(const Bytes& es) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= es.size(); ++i)
        if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) starts.push_back(i);
    std::vector<Bytes> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t end = k + 1 < starts.size() ? starts[k + 1] : es.size();
        units.emplace_back(es.begin() + starts[k], es.begin() + end);
    }
    return units;
}

std::vector<std::vector<Bytes>> group_pictures(const std::vector<Bytes>& units) {
    std::vector<std::vector<Bytes>> pictures;
    std::vector<Bytes> before;
    for (const Bytes& u : units) {
        const uint8_t code = u[3];
        if (code == 0xB3 || code == 0xB6) {
            before.push_back(u);
            pictures.push_back(std::move(before));
            before.clear();
        } else if ((code <= 0xAF || code == 0xB1) && !pictures.empty()) {
            pictures.back().push_back(u);
        } else {
            before.push_back(u);
        }
    }
    return pictures;
}

Bytes stored_sample(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) {
        testing_mp4::Put32(out, static_cast<uint32_t>(u.size() - 2));  // header byte + body
        out.push_back(0);
        out.insert(out.end(), u.begin() + 3, u.end());
    }
    return out;
}

Bytes es_sample(const std::vector<Bytes>& units) {
    Bytes out;
    for (const Bytes& u : units) out.insert(out.end(), u.begin(), u.end());
    return out;
}

testing_mp4::TrackSpec video_track(const std::vector<std::vector<Bytes>>& pictures) {
    testing_mp4::TrackSpec t;
    t.id = 1;
    t.handler = "vide";
    t.timescale = 90000;
    Bytes seq;
    if (!pictures.empty()) seq.assign(pictures[0][0].begin() + 3, pictures[0][0].end());
    t.entries = {testing_mp4::VisualEntry("avs2", testing_mp4::Avss(seq))};
    std::vector<uint32_t> sync;
    for (size_t i = 0; i < pictures.size(); ++i) {
        t.samples.push_back(stored_sample(pictures[i]));
        t.durations.push_back(3600);
        if (pictures[i][0][3] != 0xB6) sync.push_back(static_cast<uint32_t>(i + 1));
    }
    t.sync = sync;
    t.samples_per_chunk = 7;
    return t;
}

testing_mp4::TrackSpec audio_track(uint32_t id, int frames, uint32_t rate,
                                   std::optional<std::vector<uint32_t>> sync) {
    testing_mp4::TrackSpec t;
    t.id = id;
    t.handler = "soun";
    t.timescale = rate;
    t.entries = {testing_mp4::AudioEntry("mp4a", rate, {})};
    for (int i = 0; i < frames; ++i) {
        Bytes frame(100 + i % 7, static_cast<uint8_t>(i));
        frame[0] = 0xFF;
        t.samples.push_back(frame);
        t.durations.push_back(1152);
    }
    t.sync = std::move(sync);
    t.samples_per_chunk = 5;
    return t;
}

TempFile::TempFile(const Bytes& contents) {
    char name[] = "/tmp/branwick-test-XXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    if (fd >= 0) {
        size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }
}

TempFile::~TempFile() {
    ::unlink(path_.c_str());
}

void Recorder::add(const CaptureEvent& e) {
    Seen s;
    s.kind = e.kind;
    if (e.kind == CaptureEvent::Kind::kSample && e.actual_length > 0)
        s.data.assign(e.data, e.data + e.actual_length);
    s.has_time = e.has_time;
    s.start = e.start;
    s.stop = e.stop;
    s.sync = e.sync_point;
    s.discontinuity = e.discontinuity;
    s.segment_start = e.segment_start;
    s.segment_stop = e.segment_stop;
    std::lock_guard<std::mutex> hold(mutex_);
    events_.push_back(std::move(s));
}

std::vector<Seen> Recorder::events() {
    std::lock_guard<std::mutex> hold(mutex_);
    return events_;
}

std::vector<Seen> Recorder::samples() {
    std::vector<Seen> out;
    for (auto& e : events())
        if (e.kind == CaptureEvent::Kind::kSample) out.push_back(e);
    return out;
}

int Recorder::count(CaptureEvent::Kind kind) {
    int n = 0;
    for (auto& e : events()) n += e.kind == kind;
    return n;
}

void Recorder::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    events_.clear();
}

FilterGraph::FilterGraph(const std::string& path) {
    avs::dshow::CreateFilterGraph(graph_.Put());
    avs::dshow::CreateAsyncFileReader(reader_.Put());
    auto load = reader_.As<IFileSourceFilter>(IID_IFileSourceFilter);
    const std::wstring wide(path.begin(), path.end());
    load->Load(wide.c_str(), nullptr);
    graph_->AddFilter(reader_.Get(), L"reader");
    reader_pin_ = avs::dshow::FirstPin(reader_.Get(), PINDIR_OUTPUT);

    HRESULT hr = S_OK;
    filter_ = static_cast<CBranwickSource*>(CBranwickSource::CreateInstance(nullptr, &hr));
    filter_->NonDelegatingQueryInterface(IID_IBaseFilter, filter_unknown_.PutVoid());
    graph_->AddFilter(filter_unknown_.Get(), L"Demmerly");
}

FilterGraph::~FilterGraph() {
    Stop();
}

HRESULT FilterGraph::ConnectInput() {
    return graph_->ConnectDirect(reader_pin_.Get(), filter_->input_pin(), nullptr);
}

HRESULT FilterGraph::ReceiveInput() {
    CMediaType mt(&MEDIATYPE_Stream);
    return filter_->input_pin()->ReceiveConnection(reader_pin_.Get(), &mt);
}

bool FilterGraph::AttachRenderers(
    std::function<void(const std::wstring&, const CaptureEvent&)> also) {
    for (int i = 1; i < filter_->GetPinCount(); ++i) {
        CBasePin* pin = filter_->GetPin(i);
        if (pin->IsConnected()) continue;
        Recorder* r = std::wstring(pin->Name()) == L"Video" ? &video_ : &audio_;
        ComPtr<IBaseFilter> renderer;
        std::wstring name = pin->Name();
        avs::dshow::CreateCaptureRenderer(
            [r, also, name](const CaptureEvent& e) {
                r->add(e);
                if (also) also(name, e);
            },
            renderer.Put());
        graph_->AddFilter(renderer.Get(), std::wstring(pin->Name()).c_str());
        ComPtr<IPin> in = avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT);
        if (FAILED(graph_->ConnectDirect(pin, in.Get(), nullptr))) return false;
    }
    auto mf = graph_.As<IMediaFilter>(IID_IMediaFilter);
    mf->SetSyncSource(nullptr);
    return true;
}

bool FilterGraph::RunToEnd(int timeout_ms) {
    auto control = graph_.As<IMediaControl>(IID_IMediaControl);
    auto event = graph_.As<IMediaEvent>(IID_IMediaEvent);
    if (FAILED(control->Run())) return false;
    LONG code = 0;
    return event->WaitForCompletion(timeout_ms, &code) == S_OK && code == EC_COMPLETE;
}

HRESULT FilterGraph::Seek(int64_t position) {
    auto seeking = graph_.As<IMediaSeeking>(IID_IMediaSeeking);
    LONGLONG p = position;
    return seeking->SetPositions(&p, AM_SEEKING_AbsolutePositioning, nullptr,
                                 AM_SEEKING_NoPositioning);
}

void FilterGraph::Stop() {
    if (!graph_) return;
    auto control = graph_.As<IMediaControl>(IID_IMediaControl);
    control->Stop();
}

}  // namespace filesource::test
