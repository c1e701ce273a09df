#pragma once

#include <cstdio>

#include "tools/harrowgate/options.h"

namespace harrowgate {

// Encodes options.source into options.output and its time-stamp file. Progress goes to
// `progress`, the summary and one-line errors to `messages`. Returns the exit code.
int RunEncoder(const Options& options, std::FILE* progress, std::FILE* messages);

}  // namespace harrowgate
