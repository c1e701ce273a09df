// GStreamer's own MP4 demuxer, avscontainerparse and avdec_cavs on containers
// made by Lindqvale from the real sample streams: what players see and what
// they decode.
#include <gtest/gtest.h>

#include "tests/gst/gst_test_support.h"

namespace {

using namespace gsttest;

std::string DecodePipeline(const std::string& asm_path, bool sync) {
    return "filesrc location=" + asm_path +
           " ! qtdemux name=d d.video_0 ! queue ! avscontainerparse ! avdec_cavs ! videoconvert ! "
           "video/x-raw,format=I420 ! appsink name=video sync=" +
           (sync ? "true" : "false");
}

TEST(ContainerPlayback, DiscovererFindsVideoAudioDurationAndSeeking) {
    InitGstreamer();
    TempDir dir;
    const std::string mp3 = MakeMp3(dir, 4);
    for (const std::string& avs : {kXavs, kRm52j}) {
        const std::string asm_path = MakeContainer(avs, mp3, dir);
        const std::string out = ShellOutput("GST_PLUGIN_PATH='" + kPluginDir +
                                            "' timeout 60 gst-discoverer-1.0 '" + asm_path + "'");
        EXPECT_NE(out.find("Chinese AVS (CAVS)"), std::string::npos) << out;
        EXPECT_NE(out.find("Width: 352"), std::string::npos) << out;
        EXPECT_NE(out.find("Height: 288"), std::string::npos) << out;
        EXPECT_NE(out.find("Frame rate: 25/1"), std::string::npos) << out;
        EXPECT_NE(out.find("MPEG-1 Layer 3 (MP3)"), std::string::npos) << out;
        EXPECT_NE(out.find("Duration: 0:00:04"), std::string::npos) << out;
        EXPECT_NE(out.find("Seekable: yes"), std::string::npos) << out;
        EXPECT_EQ(out.find("issing"), std::string::npos) << out;
    }
}

TEST(ContainerPlayback, EveryPictureMatchesFfmpegDecodingTheSource) {
    TempDir dir;
    for (const std::string& avs : {kXavs, kRm52j}) {
        const std::vector<Bytes> reference = FfmpegPictures(avs, dir);
        ASSERT_EQ(reference.size(), 100u) << avs;
        PipelineRun run(DecodePipeline(MakeContainer(avs, "", dir), false));
        ASSERT_TRUE(run.Play()) << run.parse_error() << run.messages();
        std::vector<Picture> pictures = run.pictures();
        ASSERT_EQ(pictures.size(), reference.size()) << avs;
        for (size_t i = 0; i < pictures.size(); ++i) {
            ASSERT_EQ(pictures[i].i420, reference[i]) << avs << " picture " << i;
            // B pictures make the container's presentation start one picture into its media
            // (edit list); as a position in the stream the first picture is at 0.
            EXPECT_EQ(pictures[i].position, i * 40 * GST_MSECOND) << avs << " picture " << i;
        }
    }
}

// The xavs stream has key pictures at 0, 1, 2 and 3 s.
TEST(ContainerPlayback, SeekLandsOnTheNextKeyPicture) {
    TempDir dir;
    const std::vector<Bytes> reference = FfmpegPictures(kXavs, dir);
    ASSERT_EQ(reference.size(), 100u);
    const std::string asm_path = MakeContainer(kXavs, MakeMp3(dir, 4), dir);
    for (auto [seconds, key] : {std::pair{2.0, 50u}, std::pair{2.1, 75u}}) {
        PipelineRun run(DecodePipeline(asm_path, false) + " d.audio_0 ! queue ! fakesink");
        ASSERT_NE(run.pipeline(), nullptr) << run.parse_error();
        gst_element_set_state(run.pipeline(), GST_STATE_PAUSED);
        ASSERT_EQ(gst_element_get_state(run.pipeline(), nullptr, nullptr, 10 * GST_SECOND),
                  GST_STATE_CHANGE_SUCCESS);
        ASSERT_TRUE(gst_element_seek_simple(
            run.pipeline(), GST_FORMAT_TIME,
            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                      GST_SEEK_FLAG_SNAP_AFTER),
            static_cast<gint64>(seconds * GST_SECOND)));
        ASSERT_EQ(gst_element_get_state(run.pipeline(), nullptr, nullptr, 10 * GST_SECOND),
                  GST_STATE_CHANGE_SUCCESS);
        run.ClearPictures();
        ASSERT_TRUE(run.Play()) << run.messages();
        std::vector<Picture> pictures = run.pictures();
        ASSERT_EQ(pictures.size(), 100u - key) << "seek to " << seconds;
        // The demuxer snaps the segment to the audio too, so the key picture
        // may come clipped to a start a little after its own time.
        EXPECT_GE(pictures[0].pts, key * 40 * GST_MSECOND) << "seek to " << seconds;
        EXPECT_LT(pictures[0].pts, (key + 1) * 40 * GST_MSECOND) << "seek to " << seconds;
        EXPECT_EQ(pictures[1].pts, (key + 1) * 40 * GST_MSECOND) << "seek to " << seconds;
        for (size_t i = 0; i < pictures.size(); ++i)
            ASSERT_EQ(pictures[i].i420, reference[key + i]) << "seek to " << seconds << ", " << i;
    }
}

}  // namespace
