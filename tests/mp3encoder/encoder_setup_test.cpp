#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "mp3encoder/encoder_config.h"
#include "mp3encoder/error_log.h"
#include "mp3encoder/progress_line.h"

namespace quenby {
namespace {

// Puts the process in the C locale for one test and gives back both the
// environment variable and the locale the other tests in this run expect.
class CLocaleForThisTest {
  public:
    CLocaleForThisTest() {
        if (const char* old = std::getenv("LC_ALL")) env_ = old;
        locale_ = std::setlocale(LC_ALL, nullptr);
        ::setenv("LC_ALL", "C", 1);
        std::setlocale(LC_ALL, "C");
    }
    ~CLocaleForThisTest() {
        if (env_)
            ::setenv("LC_ALL", env_->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
        std::setlocale(LC_ALL, locale_.c_str());
    }

  private:
    std::optional<std::string> env_;
    std::string locale_;
};

TEST(EncoderSetup, DefaultsGiveConstantRateAndTheModeFollowsTheSource) {
    RunSettings s;
    EncoderSetup stereo = MakeEncoderSetup(s, 2, 48000);
    const auto& l = stereo.config.format.LHV1;
    EXPECT_EQ(l.nMode, BE_MP3_MODE_JSTEREO);
    EXPECT_EQ(l.dwReSampleRate, 48000u);
    EXPECT_EQ(l.bEnableVBR, 0);
    EXPECT_EQ(l.dwMaxBitrate, 64u);
    EXPECT_EQ(stereo.gain, 1.0f);
    EncoderSetup mono = MakeEncoderSetup(s, 1, 22050);
    EXPECT_EQ(mono.config.format.LHV1.nMode, BE_MP3_MODE_MONO);
    EXPECT_EQ(mono.encoder_channels, 1);

    s.mode = 3;
    EXPECT_EQ(MakeEncoderSetup(s, 2, 44100).encoder_channels, 1);
    s.mode = 0;
    EXPECT_EQ(MakeEncoderSetup(s, 1, 44100).config.format.LHV1.nMode, BE_MP3_MODE_STEREO);
    EXPECT_EQ(MakeEncoderSetup(s, 1, 44100).encoder_channels, 2);
}

TEST(EncoderSetup, VbrRuleAndResamplingGain) {
    RunSettings s;
    s.bitrate = 64;
    s.vbr_bitrate = 192;
    EncoderSetup vbr = MakeEncoderSetup(s, 2, 44100);
    EXPECT_EQ(vbr.config.format.LHV1.bEnableVBR, 1);
    EXPECT_EQ(vbr.config.format.LHV1.dwMaxBitrate, 192u);
    EXPECT_EQ(vbr.config.format.LHV1.nVBRQuality, 6);
    s.vbr_bitrate = 64;  // equal counts as VBR
    EXPECT_EQ(MakeEncoderSetup(s, 2, 44100).config.format.LHV1.bEnableVBR, 1);
    s.vbr_bitrate = 63;
    EXPECT_EQ(MakeEncoderSetup(s, 2, 44100).config.format.LHV1.bEnableVBR, 0);
    EXPECT_EQ(MakeEncoderSetup(s, 2, 44100).config.format.LHV1.dwMaxBitrate, 64u);

    s.sample_rate = 22050;
    EncoderSetup down = MakeEncoderSetup(s, 2, 44100);
    EXPECT_EQ(down.config.format.LHV1.dwReSampleRate, 22050u);
    EXPECT_EQ(down.output_rate, 22050u);
    EXPECT_EQ(down.gain, static_cast<float>(std::sqrt(2.0)));
    // Upsampling keeps a gain below one instead of silencing everything.
    s.sample_rate = 48000;
    EXPECT_NEAR(MakeEncoderSetup(s, 2, 44100).gain, std::sqrt(44100.0 / 48000.0), 1e-6);
}

TEST(ErrorLog, RecordLayout) {
    CLocaleForThisTest c_locale;
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 7;
    when.tm_hour = 21;
    when.tm_min = 5;
    when.tm_sec = 9;
    EXPECT_EQ(FormatErrorLogRecord(when, "/media/in put.avi"),
              "*****12/07/26 21:05:09*****\r\n"
              "Could not connect source filter to grabber\r\n"
              "InputFile: /media/in put.avi\r\n\r\n");
}

TEST(Progress, PercentIsTruncatedAndBounded) {
    EXPECT_EQ(ProgressPercent(0, 10.0), 0);
    EXPECT_EQ(ProgressPercent(99'999'999, 100.0), 9);
    EXPECT_EQ(ProgressPercent(429'999'999, 100.0), 42);
    EXPECT_EQ(ProgressPercent(-5'000'000, 10.0), 0);
    EXPECT_EQ(ProgressPercent(200'000'000, 10.0), 100);
    EXPECT_EQ(ProgressPercent(5'000'000, 0.0), 0);  // length unknown
}

}  // namespace
}  // namespace quenby
