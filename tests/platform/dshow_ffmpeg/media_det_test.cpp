// The media detector over FFmpeg: streams, their types, lengths and rates.
#include "dshow/ffmpeg/media_det.h"

#include <gtest/gtest.h>

#include "test_media.h"

namespace {

using avs::com::ComPtr;
using namespace dshow_ffmpeg_test;

class MediaDetector : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { made_ = MakeAllMedia(); }
    void SetUp() override {
        ASSERT_TRUE(made_) << "ffmpeg could not make the test media";
        ASSERT_SUCCEEDED(CoCreateInstance(CLSID_MediaDet, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IMediaDet, det_.PutVoid()));
    }
    HRESULT Open(const std::string& name) {
        BSTR path = SysAllocString(MediaPath(name).c_str());
        const HRESULT hr = det_->put_Filename(path);
        SysFreeString(path);
        return hr;
    }

    static bool made_;
    ComPtr<IMediaDet> det_;
};
bool MediaDetector::made_ = false;

TEST_F(MediaDetector, VideoAndAudioStreamsWithTheirFormatsLengthsAndRates) {
    ASSERT_SUCCEEDED(Open("aac.mp4"));
    LONG streams = 0;
    ASSERT_SUCCEEDED(det_->get_OutputStreams(&streams));
    ASSERT_EQ(streams, 2);

    ASSERT_SUCCEEDED(det_->put_CurrentStream(0));
    CMediaType video;
    ASSERT_SUCCEEDED(det_->get_StreamMediaType(&video));
    EXPECT_EQ(video.majortype, MEDIATYPE_Video);
    ASSERT_EQ(video.formattype, FORMAT_VideoInfo);
    ASSERT_GE(video.cbFormat, sizeof(VIDEOINFOHEADER));
    const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(video.pbFormat)->bmiHeader;
    EXPECT_EQ(bmi.biWidth, 160);
    EXPECT_EQ(bmi.biHeight, 120);
    EXPECT_GT(bmi.biBitCount, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bmi.biCompression), 4), "mp4v");
    double rate = 0, length = 0;
    ASSERT_SUCCEEDED(det_->get_FrameRate(&rate));
    ASSERT_SUCCEEDED(det_->get_StreamLength(&length));
    EXPECT_DOUBLE_EQ(rate, 25.0);
    EXPECT_NEAR(length, 2.0, 0.05);
    GUID major{};
    ASSERT_SUCCEEDED(det_->get_StreamType(&major));
    EXPECT_EQ(major, MEDIATYPE_Video);

    ASSERT_SUCCEEDED(det_->put_CurrentStream(1));
    CMediaType audio;
    ASSERT_SUCCEEDED(det_->get_StreamMediaType(&audio));
    EXPECT_EQ(audio.majortype, MEDIATYPE_Audio);
    ASSERT_EQ(audio.formattype, FORMAT_WaveFormatEx);
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(audio.pbFormat);
    EXPECT_EQ(wfx->nChannels, 2);
    EXPECT_EQ(wfx->nSamplesPerSec, 48000u);
    ASSERT_SUCCEEDED(det_->get_StreamLength(&length));
    EXPECT_NEAR(length, 2.0, 0.1);
    LONG current = -1;
    ASSERT_SUCCEEDED(det_->get_CurrentStream(&current));
    EXPECT_EQ(current, 1);

    EXPECT_EQ(det_->put_CurrentStream(2), E_INVALIDARG);
    EXPECT_EQ(det_->put_CurrentStream(-1), E_INVALIDARG);
}

TEST_F(MediaDetector, AudioOnlyFilesAndFilesThatAreNotMedia) {
    ASSERT_SUCCEEDED(Open("stereo44.wav"));
    LONG streams = 0;
    ASSERT_SUCCEEDED(det_->get_OutputStreams(&streams));
    ASSERT_EQ(streams, 1);
    CMediaType audio;
    ASSERT_SUCCEEDED(det_->get_StreamMediaType(&audio));
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(audio.pbFormat);
    EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wfx->wBitsPerSample, 16);
    double length = 0;
    ASSERT_SUCCEEDED(det_->get_StreamLength(&length));
    EXPECT_NEAR(length, 3.0, 0.01);

    EXPECT_EQ(Open("missing.avi"), HRESULT_FILE_NOT_FOUND);
    EXPECT_EQ(det_->get_OutputStreams(&streams), E_INVALIDARG);
    EXPECT_EQ(Open("notes.txt"), VFW_E_UNKNOWN_FILE_TYPE);
}

}  // namespace
