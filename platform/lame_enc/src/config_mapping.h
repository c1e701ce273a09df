// Turns a BE_CONFIG record into libmp3lame settings.
#pragma once

#include <lame/lame.h>

#include "lame_enc/blade_enc.h"

namespace lame_enc {

// Number of PCM channels the caller hands in for this configuration: one for mono, else two.
int InputChannels(const BE_CONFIG& config);

// Sets every libmp3lame parameter the record asks for. Returns BE_ERR_SUCCESSFUL, or
// BE_ERR_INVALID_FORMAT / BE_ERR_INVALID_FORMAT_PARAMETERS for records the encoder cannot honour.
BE_ERR ApplyConfig(const BE_CONFIG& config, lame_global_flags* gfp);

}  // namespace lame_enc
