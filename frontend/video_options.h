#pragma once

#include <string>

#include "frontend/conversion_settings.h"

namespace avs::frontend {

// The encoder's option text: items " -x value" in a fixed order. Width and height go only
// together, the video bit rate only when set.
std::string BuildVideoOptions(const ConversionSettings& settings);

}  // namespace avs::frontend
