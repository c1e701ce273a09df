// Where a trace line goes when no test sink is set: one body per platform.
#pragma once

#include <string>

namespace avs::sync {

// Writes one line (without its line end) prefixed "trace: ".
void WriteTraceLine(const std::string& line);

}  // namespace avs::sync
