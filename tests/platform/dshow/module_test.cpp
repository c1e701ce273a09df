// Creation through the registry store, module unloading, and RenderFile through the
// filters registered by the test module.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>

#include "dshow/runtime.h"
#include "support/recorder.h"
#include "support/temp_registry.h"
#include "support/test_filters.h"

using avs::com::ComPtr;
using avs::test::Recorder;
using avs::test::TempRegistry;

namespace {

HRESULT CallModule(const char* entry) {
    void* h = ::dlopen(AVS_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) return E_FAIL;
    auto fn = reinterpret_cast<HRESULT (*)()>(::dlsym(h, entry));
    HRESULT hr = fn ? fn() : E_FAIL;
    ::dlclose(h);
    return hr;
}

CLSID ClassOf(IBaseFilter* f) {
    CLSID c = GUID_NULL;
    f->GetClassID(&c);
    return c;
}

// The filter connected to the reader's output pin after RenderFile, or none.
ComPtr<IBaseFilter> ParserAfterReader(IGraphBuilder* gb, const std::wstring& file) {
    ComPtr<IBaseFilter> reader;
    if (FAILED(gb->FindFilterByName(file.c_str(), reader.Put()))) return {};
    auto out = avs::dshow::FirstPin(reader.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> peer;
    if (!out || FAILED(out->ConnectedTo(peer.Put()))) return {};
    PIN_INFO info{};
    peer->QueryPinInfo(&info);
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

std::wstring WriteFile(const std::string& dir, const std::string& name,
                       const std::string& content) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return avs::com::Widen(path);
}

}  // namespace

TEST(ModuleTest, CreatesByClassIdThroughTheRegistryAndUnloadsWhenIdle) {
    TempRegistry reg;
    ComPtr<IBaseFilter> f;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(avs::test::CLSID_TestPushSource, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, f.PutVoid()));
    ASSERT_EQ(S_OK, CallModule("DllRegisterServer"));
    ASSERT_EQ(S_OK, CoCreateInstance(avs::test::CLSID_TestPushSource, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, f.PutVoid()));
    EXPECT_EQ(avs::test::CLSID_TestPushSource, ClassOf(f.Get()));
    EXPECT_EQ(2u, avs::dshow::FilterPins(f.Get()).size());
    EXPECT_EQ(1u, avs::com::LoadedModuleCount());
    CoFreeUnusedLibraries();  // the filter is alive: the module stays
    EXPECT_EQ(1u, avs::com::LoadedModuleCount());
    // Aggregation may only ask for IUnknown.
    ComPtr<IUnknown> inner;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(avs::test::CLSID_TestPushSource, f.Get(), CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, inner.PutVoid()));
    f.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(0u, avs::com::LoadedModuleCount());

    // A registered module file that is gone gives a clear failure, not a crash.
    avs::com::RegistryStore store;
    ASSERT_EQ(S_OK, store.SetValue(
                        avs::com::ClsidKeyPath(avs::test::CLSID_TestParserA) + "\\InprocServer32",
                        "", reg.Dir() + "/missing.so"));
    EXPECT_EQ(CO_E_DLLNOTFOUND,
              CoCreateInstance(avs::test::CLSID_TestParserA, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, f.PutVoid()));
    EXPECT_EQ(S_OK, CallModule("DllUnregisterServer"));
}

TEST(ModuleTest, RenderFileTakesTheHighestMeritParserThatAcceptsTheFile) {
    TempRegistry reg;
    ASSERT_EQ(S_OK, CallModule("DllRegisterServer"));
    auto filters = avs::dshow::EnumerateRegisteredFilters();
    ASSERT_EQ(4u, filters.size());
    EXPECT_EQ(avs::test::CLSID_TestParserA, filters[0].clsid);  // highest merit first
    EXPECT_EQ(avs::test::CLSID_TestParserB, filters[1].clsid);

    struct Case {
        std::string content;
        CLSID expected;
    } cases[] = {
        {"AAAA and more bytes", avs::test::CLSID_TestParserA},
        {"BBBB refused by A, taken by B", avs::test::CLSID_TestParserB},
        {"ZZZZ refused by A and B", avs::test::CLSID_TestParserAny},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        std::wstring file = WriteFile(reg.Dir(), "in.dat", c.content);
        ComPtr<IGraphBuilder> gb;
        ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
        // Nothing renders the parser's output here, so the file is partly rendered.
        ASSERT_EQ(VFW_S_PARTIAL_RENDER, gb->RenderFile(file.c_str(), nullptr));
        ComPtr<IBaseFilter> parser = ParserAfterReader(gb.Get(), file);
        ASSERT_TRUE(parser);
        EXPECT_EQ(c.expected, ClassOf(parser.Get()));
        // Refused candidates were taken out again: reader and parser only.
        ComPtr<IEnumFilters> e;
        ASSERT_EQ(S_OK, gb->EnumFilters(e.Put()));
        IBaseFilter* got[8];
        ULONG n = 0;
        e->Next(8, got, &n);
        for (ULONG i = 0; i < n; ++i) got[i]->Release();
        EXPECT_EQ(2u, n);
    }
    ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
    EXPECT_EQ(HRESULT_FILE_NOT_FOUND,
              gb->RenderFile(avs::com::Widen(reg.Dir() + "/absent.dat").c_str(), nullptr));
    gb.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(S_OK, CallModule("DllUnregisterServer"));
    EXPECT_TRUE(avs::dshow::EnumerateRegisteredFilters().empty());
}

TEST(ModuleTest, ParserPullsTheWholeFileThroughTheAsyncReader) {
    TempRegistry reg;
    ASSERT_EQ(S_OK, CallModule("DllRegisterServer"));
    std::string content = "AAAA";
    for (int i = 0; content.size() < 1234; ++i) content += static_cast<char>('a' + i % 26);
    std::wstring file = WriteFile(reg.Dir(), "pull.dat", content);
    {
        ComPtr<IGraphBuilder> gb;
        ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
        ASSERT_EQ(VFW_S_PARTIAL_RENDER, gb->RenderFile(file.c_str(), nullptr));
        ComPtr<IBaseFilter> parser = ParserAfterReader(gb.Get(), file);
        ASSERT_TRUE(parser);
        Recorder rec;
        std::string got;
        auto cb = rec.Callback();
        ComPtr<IBaseFilter> renderer;
        ASSERT_EQ(S_OK, avs::dshow::CreateCaptureRenderer(
                            [&](const avs::dshow::CaptureEvent& e) {
                                if (e.kind == avs::dshow::CaptureEvent::Kind::kSample)
                                    got.append(reinterpret_cast<const char*>(e.data),
                                               e.actual_length);
                                cb(e);
                            },
                            renderer.Put()));
        ASSERT_EQ(S_OK, gb->AddFilter(renderer.Get(), L"Capture"));
        ASSERT_EQ(S_OK, gb->Connect(avs::dshow::FirstPin(parser.Get(), PINDIR_OUTPUT, true).Get(),
                                    avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT).Get()));
        ASSERT_EQ(S_OK, gb.As<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(nullptr));
        auto control = gb.As<IMediaControl>(IID_IMediaControl);
        ASSERT_EQ(S_OK, control->Run());
        LONG code = 0;
        ASSERT_EQ(S_OK, gb.As<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(5000, &code));
        EXPECT_EQ(content, got);
        control->Stop();
    }
    CoFreeUnusedLibraries();
    EXPECT_EQ(S_OK, CallModule("DllUnregisterServer"));
}

// A program's own renderers in the graph take the parser's streams (the graph does not
// leave them open), while the file's raw bytes still go to a registered parser; seeking
// asked of such a renderer reaches the stream's pin.
TEST(ModuleTest, RenderFileRendersIntoRenderersAlreadyInTheGraph) {
    TempRegistry reg;
    ASSERT_EQ(S_OK, CallModule("DllRegisterServer"));
    std::wstring file = WriteFile(reg.Dir(), "own.dat", "AAAA and the rest");
    {
        ComPtr<IGraphBuilder> gb;
        ASSERT_EQ(S_OK, avs::dshow::CreateFilterGraph(gb.Put()));
        ComPtr<IBaseFilter> renderer;
        ASSERT_EQ(S_OK, avs::dshow::CreateCaptureRenderer(
                            {}, renderer.Put(), [](const AM_MEDIA_TYPE& mt) {
                                return mt.majortype != MEDIATYPE_Stream;
                            }));
        ASSERT_EQ(S_OK, gb->AddFilter(renderer.Get(), L"Own"));
        ASSERT_EQ(S_OK, gb->RenderFile(file.c_str(), nullptr));
        ComPtr<IBaseFilter> parser = ParserAfterReader(gb.Get(), file);
        ASSERT_TRUE(parser);
        EXPECT_EQ(avs::test::CLSID_TestParserA, ClassOf(parser.Get()));
        ComPtr<IPin> in = avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT);
        ComPtr<IPin> peer;
        ASSERT_EQ(S_OK, in->ConnectedTo(peer.Put()));
        PIN_INFO info{};
        ASSERT_EQ(S_OK, peer->QueryPinInfo(&info));
        ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
        EXPECT_EQ(parser.Get(), owner.Get());

        auto seeking = renderer.As<IMediaSeeking>(IID_IMediaSeeking);
        ASSERT_TRUE(seeking);
        auto upstream = peer.As<IMediaSeeking>(IID_IMediaSeeking);
        DWORD caps = 0;
        if (upstream) {
            DWORD expected = 0;
            ASSERT_EQ(S_OK, upstream->GetCapabilities(&expected));
            ASSERT_EQ(S_OK, seeking->GetCapabilities(&caps));
            EXPECT_EQ(expected, caps);
        } else {
            EXPECT_EQ(E_NOTIMPL, seeking->GetCapabilities(&caps));
        }
        gb->Disconnect(peer.Get());
        gb->Disconnect(in.Get());
        EXPECT_EQ(E_NOTIMPL, seeking->GetCapabilities(&caps));  // nothing upstream any more
    }
    CoFreeUnusedLibraries();
    EXPECT_EQ(S_OK, CallModule("DllUnregisterServer"));
}
