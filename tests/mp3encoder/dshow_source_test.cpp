// The encoder's view of the platform: the listing the media detector gives, and the graph of
// source, grabber and null renderer delivering PCM to the sink on a streaming thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "mp3encoder/dshow_source/dshow_audio_graph.h"
#include "mp3encoder/dshow_source/media_det_listing.h"
#include "test_media.h"

namespace {

using namespace dshow_ffmpeg_test;

class MediaEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { std::filesystem::remove_all(MediaDir()); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MediaEnvironment);

std::string Path(const std::string& name) {
    return (MediaDir() / name).string();
}

// What Inspect prints, and what it reports.
std::pair<std::string, quenby::SourceInspection> Listing(const std::string& path) {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    quenby::MediaDetInspector inspector;
    const quenby::SourceInspection r = inspector.Inspect(path, out);
    std::fclose(out);
    std::string s(text, size);
    std::free(text);
    return {s, r};
}

class Sink : public quenby::PcmSampleSink {
  public:
    explicit Sink(int result) : result_(result) {}
    int OnSample(const std::uint8_t* data, std::size_t size, std::int64_t start,
                 std::int64_t stop) override {
        std::lock_guard<std::mutex> l(mutex_);
        if (data == nullptr) ++empty;
        bytes += size;
        ++samples;
        ordered = ordered && stop > start && start >= last_start_;
        last_start_ = start;
        off_main = off_main && std::this_thread::get_id() != main_;
        return result_;
    }
    long long bytes = 0;
    int samples = 0, empty = 0;
    bool ordered = true, off_main = true;

  private:
    std::mutex mutex_;
    int result_;
    std::int64_t last_start_ = INT64_MIN;
    std::thread::id main_ = std::this_thread::get_id();
};

class DshowSource : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { made_ = MakeAllMedia(); }
    void SetUp() override { ASSERT_TRUE(made_) << "ffmpeg could not make the test media"; }
    static bool made_;
};
bool DshowSource::made_ = false;

TEST_F(DshowSource, TheListingNamesEveryStreamAndChoosesTheLastVideo) {
    auto [text, r] = Listing(Path("pcm.avi"));
    EXPECT_EQ(text,
              "[ 0] majortype: MEDIATYPE_Video *\n"
              "     formattype: FORMAT_VideoInfo\n"
              "     (160x120x24 'FMP4')\n"
              "[ 1] majortype: MEDIATYPE_Audio  \n"
              "     formattype: FORMAT_WaveFormatEx\n"
              "Length of Video: 2s\r\nAuthored Frame Rate: 25fps\r\n(50 frames of 160x120x24)\n");
    EXPECT_TRUE(r.has_video);
    EXPECT_DOUBLE_EQ(r.video_length, 2.0);

    // Audio only: no video, but the source's own length for the progress line.
    std::tie(text, r) = Listing(Path("stereo44.wav"));
    EXPECT_EQ(text,
              "[ 0] majortype: MEDIATYPE_Audio  \n"
              "     formattype: FORMAT_WaveFormatEx\n"
              "No video stream found!\n");
    EXPECT_FALSE(r.has_video);
    EXPECT_NEAR(r.media_length, 3.0, 0.01);

    // Failures are printed with their code and the run goes on without a length.
    std::tie(text, r) = Listing(Path("missing.avi"));
    EXPECT_EQ(text, "put_Filename(): res=0x80070002\n");
    EXPECT_EQ(r.media_length, 0);
    std::tie(text, r) = Listing(Path("notes.txt"));
    EXPECT_EQ(text, "put_Filename(): res=0x80040240\n");
}

TEST_F(DshowSource, BuildingTellsWhatFailed) {
    {
        quenby::DshowAudioGraph g;
        EXPECT_EQ(g.Build(Path("notes.txt")), quenby::GraphBuildResult::kSourceNotFound);
    }
    {
        quenby::DshowAudioGraph g;
        EXPECT_EQ(g.Build(Path("missing.wav")), quenby::GraphBuildResult::kSourceNotFound);
    }
    {
        quenby::DshowAudioGraph g;
        EXPECT_EQ(g.Build(Path("noaudio.mp4")), quenby::GraphBuildResult::kNotConnected);
    }
    quenby::DshowAudioGraph g;
    ASSERT_EQ(g.Build(Path("vorbis.mkv")), quenby::GraphBuildResult::kOk);
    EXPECT_EQ(g.ConnectedFormat().channels, 1u);
    EXPECT_EQ(g.ConnectedFormat().sample_rate, 22050u);
}

TEST_F(DshowSource, TheSinkGetsEverySampleOnTheStreamingThreadEvenWhenItFails) {
    for (const int result : {0, -1}) {
        SCOPED_TRACE(result);
        quenby::DshowAudioGraph g;
        ASSERT_EQ(g.Build(Path("aac.mp4")), quenby::GraphBuildResult::kOk);
        ASSERT_TRUE(g.RemoveClock());
        Sink sink(result);
        ASSERT_TRUE(g.RunToCompletion(sink));
        // A sink that can take no more does not stop the graph: it still sees every sample.
        EXPECT_EQ(sink.bytes, DecodedFrames("aac.mp4") * 2 * 2);
        EXPECT_GT(sink.samples, 50);
        EXPECT_EQ(sink.empty, 0);
        EXPECT_TRUE(sink.ordered);
        EXPECT_TRUE(sink.off_main);
    }
}

}  // namespace
