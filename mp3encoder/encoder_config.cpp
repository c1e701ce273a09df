#include "mp3encoder/encoder_config.h"

#include <cmath>
#include <cstring>

namespace quenby {

EncoderSetup MakeEncoderSetup(const RunSettings& settings, unsigned source_channels,
                              unsigned source_rate) {
    EncoderSetup setup;
    BE_CONFIG& c = setup.config;
    std::memset(&c, 0, sizeof c);
    auto& l = c.format.LHV1;

    setup.output_rate = settings.sample_rate != 0 ? settings.sample_rate : source_rate;
    const bool vbr = settings.vbr_bitrate >= settings.bitrate;
    int mode = settings.mode;
    if (mode == -1) mode = source_channels == 1 ? BE_MP3_MODE_MONO : BE_MP3_MODE_JSTEREO;

    c.dwConfig = BE_CONFIG_LAME;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof(BE_CONFIG);
    l.dwSampleRate = source_rate;
    l.dwReSampleRate = setup.output_rate;
    l.nMode = mode;
    l.dwBitrate = settings.bitrate;
    l.dwMaxBitrate = vbr ? settings.vbr_bitrate : settings.bitrate;
    l.nPreset = LQP_HIFI;
    l.bOriginal = 1;
    l.bWriteVBRHeader = 1;
    l.bEnableVBR = vbr ? 1 : 0;
    l.nVBRQuality = vbr ? 6 : 0;

    setup.encoder_channels = mode == BE_MP3_MODE_MONO ? 1 : 2;
    // The ratio is taken in real numbers: an integer ratio would be 0 when upsampling and
    // silence every sample.
    if (settings.sample_rate != 0 && source_rate != 0)
        setup.gain = static_cast<float>(std::sqrt(static_cast<double>(source_rate) /
                                                  static_cast<double>(settings.sample_rate)));
    return setup;
}

}  // namespace quenby
