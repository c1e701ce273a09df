// rtspsrc over TCP with rtpavsdepay and avdec_cavs, against the project's
// rtspserve and against a server on GStreamer's own RTSP server library, in
// real time with synchronised sinks: every picture as FFmpeg decodes the
// source, paced by the clock, and to the end despite a server's faults.
#include <gtest/gtest.h>

#include "tests/gst/gst_test_support.h"

namespace {

using namespace gsttest;

const std::string kTestServer = std::string(AVS_TEST_BIN_DIR) + "/gst_rtsp_test_server";

// buffer-mode=none: in its default clock-slaving mode GStreamer 1.22's jitter
// buffer now and then (one run in five here, on a loaded machine, with or
// without server faults) keeps the stream's last packets and its end of stream
// past the end, before they reach the depayloader; without it every run ends.
std::string RtspPipeline(const std::string& url, bool audio) {
    std::string description = "rtspsrc location=" + url +
                              " protocols=tcp latency=500 buffer-mode=none name=src src. ! "
                              "rtpavsdepay ! "
                              "avdec_cavs ! videoconvert ! video/x-raw,format=I420 ! "
                              "appsink name=video sync=true";
    if (audio)
        description += " src. ! rtpmpadepay ! mpegaudioparse ! fakesink name=audio sync=true";
    return description;
}

void ExpectEveryPicture(PipelineRun& run, const std::vector<Bytes>& reference,
                        const std::string& what) {
    std::vector<Picture> pictures = run.pictures();
    ASSERT_EQ(pictures.size(), reference.size()) << what << "\n" << run.messages();
    for (size_t i = 0; i < pictures.size(); ++i)
        ASSERT_EQ(pictures[i].i420, reference[i]) << what << ": picture " << i;
}

class RtspPlayback : public ::testing::Test {
  protected:
    void SetUp() override { InitGstreamer(); }
    TempDir dir;
};

// 12 s of video (the sample three times over) with 12 s of MP3: the run takes
// the stream's time, and pictures arrive along it rather than in a burst.
TEST_F(RtspPlayback, RtspservePacedWithAudio) {
    const std::string video = dir / "twelve.avs";
    ASSERT_EQ(Shell("cat '" + kXavs + "' '" + kXavs + "' '" + kXavs + "' > '" + video + "'"), 0);
    const std::vector<Bytes> reference = FfmpegPictures(video, dir);
    ASSERT_EQ(reference.size(), 300u);
    ServerProcess server({kBin + "/rtspserve", "-q", "-p", "0", video, MakeMp3(dir, 12)});
    ASSERT_FALSE(server.url().empty());
    PipelineRun run(RtspPipeline(server.url(), true));
    ASSERT_TRUE(run.Play()) << run.parse_error() << run.messages();
    ExpectEveryPicture(run, reference, "rtspserve with audio");
    EXPECT_GE(run.elapsed(), 12.0);
    EXPECT_LE(run.elapsed(), 14.0);
    std::vector<Picture> pictures = run.pictures();
    EXPECT_GE(pictures[150].arrival, 5.5);
    EXPECT_LE(pictures[150].arrival, 8.0);
    EXPECT_GT(run.audio_buffers(), 400u);  // 12 s of 26 ms frames
}

// What a player does: playbin plugs rtpavsdepay and the decoder by itself.
TEST_F(RtspPlayback, RtspserveVideoOnlyThroughPlaybin) {
    const std::vector<Bytes> reference = FfmpegPictures(kRm52j, dir);
    ServerProcess server({kBin + "/rtspserve", "-q", "-p", "0", kRm52j});
    ASSERT_FALSE(server.url().empty());
    PipelineRun run = PipelineRun::Playbin(server.url());
    ASSERT_TRUE(run.Play()) << run.messages() << run.pictures().size() << " pictures\n"
                            << run.sink_notes();
    ExpectEveryPicture(run, reference, "playbin");
    EXPECT_GE(run.elapsed(), 4.0);
    EXPECT_LE(run.elapsed(), 6.0);
    EXPECT_EQ(run.audio_buffers(), 0u);
}

// Random interleaved packets and a two-second stall: the stream plays to
// its end, and over TCP nothing is lost.
TEST_F(RtspPlayback, RtspserveFaultsLeaveThePipelineRunning) {
    const std::string mp3 = MakeMp3(dir, 4);
    const std::vector<Bytes> reference = FfmpegPictures(kXavs, dir);
    {
        ServerProcess server(
            {kBin + "/rtspserve", "-q", "-p", "0", "--garbage-every", "7", kXavs, mp3});
        ASSERT_FALSE(server.url().empty());
        PipelineRun run(RtspPipeline(server.url(), true));
        ASSERT_TRUE(run.Play()) << run.messages() << run.pictures().size() << " pictures\n"
                                << run.sink_notes();
        ExpectEveryPicture(run, reference, "--garbage-every 7");
        EXPECT_GT(run.audio_buffers(), 100u);
    }
    {
        ServerProcess server(
            {kBin + "/rtspserve", "-q", "-p", "0", "--stall-at", "1:2", kXavs, mp3});
        ASSERT_FALSE(server.url().empty());
        PipelineRun run(RtspPipeline(server.url(), true));
        ASSERT_TRUE(run.Play()) << run.messages() << run.pictures().size() << " pictures\n"
                                << run.sink_notes();
        ExpectEveryPicture(run, reference, "--stall-at 1:2");
        EXPECT_GT(run.audio_buffers(), 100u);
        EXPECT_GE(run.elapsed(), 4.0);
        std::vector<Picture> pictures = run.pictures();
        // Nothing comes during the stall, so the picture at 2 s is late.
        EXPECT_GE(pictures[50].arrival, 3.0);
    }
}

TEST_F(RtspPlayback, GstreamerRtspServerWithAndWithoutAudio) {
    const std::vector<Bytes> reference = FfmpegPictures(kRm52j, dir);
    const std::string asm_path = MakeContainer(kRm52j, MakeMp3(dir, 4), dir);
    for (bool audio : {false, true}) {
        std::vector<std::string> argv = {kTestServer, asm_path};
        if (audio) argv.push_back("--audio");
        ServerProcess server(argv);
        ASSERT_FALSE(server.url().empty());
        PipelineRun run(RtspPipeline(server.url(), audio));
        ASSERT_TRUE(run.Play()) << run.messages() << run.pictures().size() << " pictures\n"
                                << run.sink_notes();
        ExpectEveryPicture(run, reference, audio ? "with audio" : "video only");
        EXPECT_GE(run.elapsed(), 4.0);
        EXPECT_LE(run.elapsed(), 6.0);
        if (audio)
            EXPECT_GT(run.audio_buffers(), 100u);
        else
            EXPECT_EQ(run.audio_buffers(), 0u);
    }
}

}  // namespace
