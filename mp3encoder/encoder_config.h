// The encoder record and PCM handling chosen from the run settings and the source format.
#pragma once

#include "lame_enc/blade_enc.h"
#include "mp3encoder/run_settings.h"

namespace quenby {

struct EncoderSetup {
    BE_CONFIG config;
    unsigned output_rate = 0;  // rate of the MP3
    float gain = 1.0f;         // applied to every PCM sample before encoding
    int encoder_channels = 2;  // channels the encoder takes: 1 in mono mode, else 2
};

EncoderSetup MakeEncoderSetup(const RunSettings& settings, unsigned source_channels,
                              unsigned source_rate);

}  // namespace quenby
