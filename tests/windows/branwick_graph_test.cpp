// BranwickSource.dll in the system's own DirectShow: created by class through the
// registry (so the module must be registered first), fed by the system's file reader,
// its pins and types as a player sees them, and a run to the end through a sample grabber.
//   AVS_BRANWICK_CONTAINER  the container to open (made from a 100-picture sample)
//   AVS_BRANWICK_MODULE     the module file, for the direct DllGetClassObject calls
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "dshow/streams.h"
#include "filtermodule/module_ids.h"
// After the SDK headers it builds on.
// clang-format off
#include <qedit.h>
// clang-format on

namespace {

using avs::com::ComPtr;

std::wstring EnvPath(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? std::wstring() : avs::com::Widen(v);
}

class ComScope {
  public:
    ComScope() { hr_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    HRESULT hr() const { return hr_; }

  private:
    HRESULT hr_;
};

ComPtr<IBaseFilter> Create(REFCLSID clsid) {
    ComPtr<IBaseFilter> f;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.PutVoid());
    EXPECT_EQ(hr, S_OK);
    return f;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION want) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return {};
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_DIRECTION dir;
        if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == want) return pin;
    }
    return {};
}

struct OutputPin {
    std::wstring name;
    ComPtr<IPin> pin;
    AM_MEDIA_TYPE type{};  // the first type the pin offers (format block owned here)
};

std::vector<OutputPin> OutputPins(IBaseFilter* filter) {
    std::vector<OutputPin> out;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return out;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        if (info.pFilter != nullptr) info.pFilter->Release();
        if (info.dir != PINDIR_OUTPUT) continue;
        OutputPin p{info.achName, pin, {}};
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE* mt = nullptr;
        if (SUCCEEDED(pin->EnumMediaTypes(types.Put())) && types->Next(1, &mt, nullptr) == S_OK) {
            p.type = *mt;
            CoTaskMemFree(mt);
        }
        out.push_back(p);
    }
    return out;
}

void FreeTypes(std::vector<OutputPin>& pins) {
    for (OutputPin& p : pins) {
        CoTaskMemFree(p.type.pbFormat);
        if (p.type.pUnk != nullptr) p.type.pUnk->Release();
        p.type = {};
    }
}

// Counts what reaches a sample grabber.
class CountingCallback : public ISampleGrabberCB {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_ISampleGrabberCB) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override {
        ++samples;
        bytes += sample->GetActualDataLength();
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, LONG) override { return E_NOTIMPL; }
    std::atomic<int> samples{0};
    std::atomic<long long> bytes{0};
};

// The container through the system's file reader into the filter; the filter opens it
// when its input connects.
struct SourceGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> reader;
    ComPtr<IBaseFilter> source;
};

void BuildSourceGraph(SourceGraph* g, const std::wstring& container) {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               g->graph.PutVoid()),
              S_OK);
    ASSERT_EQ(g->graph->AddSourceFilter(container.c_str(), L"Reader", g->reader.Put()), S_OK);
    g->source = Create(CLSID_BranwickSource);
    ASSERT_TRUE(g->source);
    ASSERT_EQ(g->graph->AddFilter(g->source.Get(), L"Demmerly"), S_OK);
    ComPtr<IPin> out = FirstPin(g->reader.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = FirstPin(g->source.Get(), PINDIR_INPUT);
    ASSERT_TRUE(out && in);
    ASSERT_EQ(g->graph->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
}

TEST(BranwickModule, ClassObjectOnlyForItsOwnClass) {
    std::wstring module = EnvPath("AVS_BRANWICK_MODULE");
    ASSERT_FALSE(module.empty()) << "AVS_BRANWICK_MODULE not set";
    ComScope com;
    HMODULE dll = LoadLibraryW(module.c_str());
    ASSERT_NE(dll, nullptr);
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(get, nullptr);
    ASSERT_NE(can_unload, nullptr);
    // Undecorated exports: the registration entry points are found by name too.
    EXPECT_NE(GetProcAddress(dll, "DllRegisterServer"), nullptr);
    EXPECT_NE(GetProcAddress(dll, "DllUnregisterServer"), nullptr);

    void* factory = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(CLSID_Tallowmere, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(get(CLSID_FilterGraph, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);

    ASSERT_EQ(get(CLSID_BranwickSource, IID_IClassFactory, &factory), S_OK);
    auto* cf = static_cast<IClassFactory*>(factory);
    EXPECT_EQ(can_unload(), S_FALSE);  // the factory is alive
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
              S_OK);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_BranwickSource));
    filter->Release();
    cf->Release();
    EXPECT_EQ(can_unload(), S_OK);
    FreeLibrary(dll);
}

TEST(BranwickModule, PinsAndTypesThroughTheSystemReader) {
    std::wstring container = EnvPath("AVS_BRANWICK_CONTAINER");
    ASSERT_FALSE(container.empty()) << "AVS_BRANWICK_CONTAINER not set";
    ComScope com;
    SourceGraph g;
    BuildSourceGraph(&g, container);
    if (HasFatalFailure()) return;

    std::vector<OutputPin> pins = OutputPins(g.source.Get());
    ASSERT_EQ(pins.size(), 2u);
    const OutputPin* video = nullptr;
    const OutputPin* audio = nullptr;
    for (const OutputPin& p : pins) {
        if (p.name == L"Video") video = &p;
        if (p.name == L"Audio") audio = &p;
    }
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);

    EXPECT_TRUE(IsEqualGUID(video->type.majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(video->type.subtype, MEDIASUBTYPE_AVS2));
    EXPECT_TRUE(IsEqualGUID(video->type.formattype, FORMAT_AvsVideo));
    ASSERT_EQ(video->type.cbFormat, kAvsVideoFormatBytes);
    const auto* info = reinterpret_cast<const MPEG1VIDEOINFO*>(video->type.pbFormat);
    EXPECT_EQ(info->hdr.bmiHeader.biWidth, 352);
    EXPECT_EQ(info->hdr.bmiHeader.biHeight, 288);
    EXPECT_EQ(info->hdr.AvgTimePerFrame, 400000);  // 25 pictures a second

    EXPECT_TRUE(IsEqualGUID(audio->type.majortype, MEDIATYPE_Audio));
    EXPECT_TRUE(IsEqualGUID(audio->type.formattype, FORMAT_WaveFormatEx));
    ASSERT_EQ(audio->type.cbFormat, sizeof(MPEG1WAVEFORMAT));
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(audio->type.pbFormat);
    EXPECT_EQ(audio->type.subtype.Data1, wf->wFormatTag);  // the wave-format subtype
    EXPECT_EQ(wf->wFormatTag, WAVE_FORMAT_MPEGLAYER3);
    EXPECT_EQ(wf->nChannels, 2);
    EXPECT_EQ(wf->nSamplesPerSec, 44100u);
    FreeTypes(pins);
}

TEST(BranwickModule, RunsToTheEndThroughSampleGrabbers) {
    std::wstring container = EnvPath("AVS_BRANWICK_CONTAINER");
    ASSERT_FALSE(container.empty()) << "AVS_BRANWICK_CONTAINER not set";
    ComScope com;
    SourceGraph g;
    BuildSourceGraph(&g, container);
    if (HasFatalFailure()) return;

    CountingCallback counts[2];
    std::vector<OutputPin> pins = OutputPins(g.source.Get());
    ASSERT_EQ(pins.size(), 2u);
    for (size_t i = 0; i < pins.size(); ++i) {
        ComPtr<IBaseFilter> grabber = Create(CLSID_SampleGrabber);
        ComPtr<IBaseFilter> sink = Create(CLSID_NullRenderer);
        ASSERT_TRUE(grabber && sink);
        ComPtr<ISampleGrabber> sg = grabber.As<ISampleGrabber>(IID_ISampleGrabber);
        ASSERT_TRUE(sg);
        ASSERT_EQ(sg->SetCallback(&counts[i], 0), S_OK);
        std::wstring n = std::to_wstring(i);
        ASSERT_EQ(g.graph->AddFilter(grabber.Get(), (L"Grabber " + n).c_str()), S_OK);
        ASSERT_EQ(g.graph->AddFilter(sink.Get(), (L"Sink " + n).c_str()), S_OK);
        ComPtr<IPin> grab_in = FirstPin(grabber.Get(), PINDIR_INPUT);
        ComPtr<IPin> grab_out = FirstPin(grabber.Get(), PINDIR_OUTPUT);
        ComPtr<IPin> sink_in = FirstPin(sink.Get(), PINDIR_INPUT);
        ASSERT_EQ(g.graph->ConnectDirect(pins[i].pin.Get(), grab_in.Get(), nullptr), S_OK)
            << "pin " << i;
        ASSERT_EQ(g.graph->ConnectDirect(grab_out.Get(), sink_in.Get(), nullptr), S_OK);
    }
    // No clock: the samples go as fast as the filter delivers them.
    ComPtr<IMediaFilter> timing = g.graph.As<IMediaFilter>(IID_IMediaFilter);
    ASSERT_TRUE(timing);
    ASSERT_EQ(timing->SetSyncSource(nullptr), S_OK);
    ComPtr<IMediaControl> control = g.graph.As<IMediaControl>(IID_IMediaControl);
    ComPtr<IMediaEvent> events = g.graph.As<IMediaEvent>(IID_IMediaEvent);
    ASSERT_TRUE(control && events);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(60000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    control->Stop();

    size_t video = pins[0].name == L"Video" ? 0 : 1;
    EXPECT_EQ(counts[video].samples.load(), 101);
    EXPECT_GT(counts[video].bytes.load(), 0);
    EXPECT_GT(counts[1 - video].samples.load(), 0);  // the audio arrived too
    FreeTypes(pins);
}

}  // namespace
