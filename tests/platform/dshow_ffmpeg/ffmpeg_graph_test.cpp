// The FFmpeg-backed source and the grabber in a real graph: pins, types, connection, times,
// and every decoded sample reaching the grabber's callback on a streaming thread and then
// the renderer behind it.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "dshow/ffmpeg/ffmpeg_source.h"
#include "dshow/ffmpeg/grabber.h"
#include "dshow/runtime.h"
#include "test_media.h"

namespace {

using avs::com::ComPtr;
using namespace dshow_ffmpeg_test;

class MediaEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { std::filesystem::remove_all(MediaDir()); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MediaEnvironment);

// What the grabber's callback saw. The callback has no context, so it records here.
struct Grabbed {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
    std::vector<REFERENCE_TIME> starts, stops;
    long long bytes = 0;
    int type_changes = 0;
};
Grabbed* g_grabbed = nullptr;

HRESULT Record(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, BOOL changed) {
    std::lock_guard<std::mutex> l(g_grabbed->mutex);
    g_grabbed->threads.push_back(std::this_thread::get_id());
    g_grabbed->starts.push_back(*start);
    g_grabbed->stops.push_back(*stop);
    g_grabbed->bytes += sample->GetActualDataLength();
    g_grabbed->type_changes += changed ? 1 : 0;
    return S_OK;
}

// A graph as the encoder builds it: the file's source, the grabber told to take PCM audio
// connected to the first source pin it accepts, a capture renderer behind the grabber.
class GrabberGraph {
  public:
    explicit GrabberGraph(const std::string& file) {
        EXPECT_SUCCEEDED(CoCreateInstance(CLSID_SampleGrabberFilter, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IBaseFilter, grabber.PutVoid()));
        grab = grabber.As<ISampleGrabberFilter>(IID_ISampleGrabberFilter);
        AM_MEDIA_TYPE accepted{};
        accepted.majortype = MEDIATYPE_Audio;
        accepted.subtype = MEDIASUBTYPE_PCM;
        grab->SetAcceptedMediaType(&accepted);
        grab->SetCallback(Record);
        EXPECT_SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IGraphBuilder, graph.PutVoid()));
        source_hr = graph->AddSourceFilter(MediaPath(file).c_str(), L"Source", source.Put());
        if (FAILED(source_hr)) return;
        graph->AddFilter(grabber.Get(), L"Grabber");
        ComPtr<IPin> in = avs::dshow::FirstPin(grabber.Get(), PINDIR_INPUT);
        for (auto& pin : avs::dshow::FilterPins(source.Get())) {
            connect_results.push_back(graph->Connect(pin.Get(), in.Get()));
            if (connect_results.back() == S_OK) break;
        }
        avs::dshow::CreateCaptureRenderer(
            [this](const avs::dshow::CaptureEvent& e) {
                if (e.kind == avs::dshow::CaptureEvent::Kind::kSample) ++rendered;
                if (e.kind == avs::dshow::CaptureEvent::Kind::kEndOfStream) ++ends;
            },
            renderer.Put());
        graph->AddFilter(renderer.Get(), L"Renderer");
        graph->Connect(avs::dshow::FirstPin(grabber.Get(), PINDIR_OUTPUT).Get(),
                       avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT).Get());
    }
    ~GrabberGraph() {
        if (auto control = graph.As<IMediaControl>(IID_IMediaControl)) control->Stop();
    }
    bool Connected() const { return !connect_results.empty() && connect_results.back() == S_OK; }

    // Runs without a clock to the end; the completion code, or 0 on a time-out.
    LONG RunToEnd() {
        graph.As<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(nullptr);
        auto control = graph.As<IMediaControl>(IID_IMediaControl);
        EXPECT_SUCCEEDED(control->Run());
        LONG code = 0;
        graph.As<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(60000, &code);
        control->Stop();
        return code;
    }

    ComPtr<IBaseFilter> grabber, source, renderer;
    ComPtr<ISampleGrabberFilter> grab;
    ComPtr<IGraphBuilder> graph;
    HRESULT source_hr = E_FAIL;
    std::vector<HRESULT> connect_results;
    std::atomic<int> rendered{0}, ends{0};
};

class FfmpegGraph : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { made_ = MakeAllMedia(); }
    void SetUp() override {
        ASSERT_TRUE(made_) << "ffmpeg could not make the test media";
        g_grabbed = &grabbed_;
    }
    void TearDown() override { g_grabbed = nullptr; }

    static bool made_;
    Grabbed grabbed_;
};
bool FfmpegGraph::made_ = false;

WAVEFORMATEX WaveOf(const AM_MEDIA_TYPE& mt) {
    WAVEFORMATEX w{};
    if (mt.formattype == FORMAT_WaveFormatEx && mt.cbFormat >= sizeof w)
        std::memcpy(&w, mt.pbFormat, sizeof w);
    return w;
}

TEST_F(FfmpegGraph, PinsFollowTheStreamsAndOnlyAudioReachesTheGrabber) {
    GrabberGraph g("pcm.avi");
    ASSERT_SUCCEEDED(g.source_hr);
    auto pins = avs::dshow::FilterPins(g.source.Get());
    ASSERT_EQ(pins.size(), 2u);

    // Stream 0 is the video: a VIDEOINFOHEADER type with the picture's size.
    CMediaType video;
    {
        ComPtr<IEnumMediaTypes> types;
        ASSERT_SUCCEEDED(pins[0]->EnumMediaTypes(types.Put()));
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
        video = *mt;
        DeleteMediaType(mt);
    }
    EXPECT_EQ(video.majortype, MEDIATYPE_Video);
    ASSERT_EQ(video.formattype, FORMAT_VideoInfo);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(video.pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, 160);
    EXPECT_EQ(vih->bmiHeader.biHeight, 120);
    EXPECT_EQ(vih->AvgTimePerFrame, 400000);

    // The grabber refused the video pin and took the audio pin as 16-bit PCM.
    ASSERT_EQ(g.connect_results.size(), 2u);
    EXPECT_TRUE(FAILED(g.connect_results[0]));
    EXPECT_EQ(g.connect_results[1], S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_SUCCEEDED(g.grab->GetConnectedMediaType(&mt));
    EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    const WAVEFORMATEX w = WaveOf(mt);
    FreeMediaType(mt);
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w.nChannels, 2);
    EXPECT_EQ(w.nSamplesPerSec, 44100u);
    EXPECT_EQ(w.wBitsPerSample, 16);
    EXPECT_EQ(w.nBlockAlign, 4);
    EXPECT_EQ(w.nAvgBytesPerSec, 44100u * 4);

    // Before it is connected the grabber has no type to give.
    ComPtr<IBaseFilter> fresh;
    ASSERT_SUCCEEDED(CoCreateInstance(CLSID_SampleGrabberFilter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, fresh.PutVoid()));
    AM_MEDIA_TYPE none{};
    EXPECT_EQ(
        fresh.As<ISampleGrabberFilter>(IID_ISampleGrabberFilter)->GetConnectedMediaType(&none),
        VFW_E_NOT_CONNECTED);
}

TEST_F(FfmpegGraph, EveryDecodedSampleReachesTheCallbackOnAStreamingThreadAndTheRenderer) {
    struct Case {
        const char* file;
        unsigned rate, channels;
    };
    for (const Case c :
         {Case{"stereo44.wav", 44100, 2}, Case{"pcm.avi", 44100, 2}, Case{"aac.mp4", 48000, 2},
          Case{"opus.mkv", 48000, 2}, Case{"vorbis.mkv", 22050, 1},
          // More channels than stereo come mixed down to two.
          Case{"surround8.wav", 44100, 2}}) {
        SCOPED_TRACE(c.file);
        Grabbed grabbed;
        g_grabbed = &grabbed;
        GrabberGraph g(c.file);
        ASSERT_TRUE(g.Connected());
        AM_MEDIA_TYPE mt{};
        ASSERT_SUCCEEDED(g.grab->GetConnectedMediaType(&mt));
        const WAVEFORMATEX w = WaveOf(mt);
        FreeMediaType(mt);
        EXPECT_EQ(w.nSamplesPerSec, c.rate);
        EXPECT_EQ(w.nChannels, c.channels);

        EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
        ASSERT_FALSE(grabbed.starts.empty());
        // The whole stream, as FFmpeg decodes it, and nothing more.
        EXPECT_EQ(grabbed.bytes, DecodedFrames(c.file) * c.channels * 2);
        for (auto id : grabbed.threads) EXPECT_NE(id, std::this_thread::get_id());
        for (std::size_t i = 0; i < grabbed.starts.size(); ++i) {
            EXPECT_LT(grabbed.starts[i], grabbed.stops[i]) << i;
            if (i > 0) {
                EXPECT_GE(grabbed.starts[i], grabbed.starts[i - 1]) << i;
            }
        }
        EXPECT_EQ(grabbed.type_changes, 0);
        // The grabber passed each sample on, then the end of the stream.
        EXPECT_EQ(g.rendered.load(), static_cast<int>(grabbed.starts.size()));
        EXPECT_EQ(g.ends.load(), 1);
        g_grabbed = &grabbed_;
    }
}

TEST_F(FfmpegGraph, AudioThatStartsAfterTheVideoCarriesItsOffsetAndARunCanBeRepeated) {
    for (const char* file : {"late.mp4", "late.ts"}) {
        SCOPED_TRACE(file);
        Grabbed grabbed;
        g_grabbed = &grabbed;
        GrabberGraph g(file);
        ASSERT_TRUE(g.Connected());
        EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
        ASSERT_FALSE(grabbed.starts.empty());
        // About 0.5 s after the video (the encoder's priming moves it by a frame or two),
        // exactly where FFmpeg's own tool places it.
        const double expected = FirstAudioStart(file);
        EXPECT_NEAR(expected, 5'000'000.0, 500'000.0);
        EXPECT_NEAR(static_cast<double>(grabbed.starts.front()), expected, 10.0);  // 1 µs
        const long long first_bytes = grabbed.bytes;
        const REFERENCE_TIME first_start = grabbed.starts.front();

        // Stopped and run again, the stream starts over from the beginning.
        grabbed.starts.clear();
        grabbed.bytes = 0;
        EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
        ASSERT_FALSE(grabbed.starts.empty());
        EXPECT_EQ(grabbed.starts.front(), first_start);
        EXPECT_EQ(grabbed.bytes, first_bytes);
        g_grabbed = &grabbed_;
    }
}

TEST_F(FfmpegGraph, FilesWithoutAudioOrWithoutMediaAreTold) {
    {
        GrabberGraph g("noaudio.mp4");
        ASSERT_SUCCEEDED(g.source_hr);
        ASSERT_EQ(g.connect_results.size(), 1u);
        EXPECT_TRUE(FAILED(g.connect_results[0]));
    }
    ComPtr<IBaseFilter> source;
    EXPECT_EQ(avs::dshow::CreateFfmpegSource(MediaPath("missing.wav").c_str(), source.Put()),
              HRESULT_FILE_NOT_FOUND);
    EXPECT_EQ(avs::dshow::CreateFfmpegSource(MediaPath("notes.txt").c_str(), source.Put()),
              VFW_E_UNKNOWN_FILE_TYPE);
    EXPECT_FALSE(source);
    GrabberGraph text("notes.txt");
    EXPECT_TRUE(FAILED(text.source_hr));
}

}  // namespace
