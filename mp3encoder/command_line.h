// Quenby's command line: two paths, then options in the GNU long-only style.
#pragma once

#include <cstdio>

#include "mp3encoder/run_settings.h"

namespace quenby {

struct CommandLine {
    bool run = false;  // false: the program ends now with exit_code
    int exit_code = 0;
    RunSettings settings;
};

// Prints the usage text on `err`.
void PrintUsage(FILE* err);

// Reads argv; usage and option errors go to `err`. Uses the C library's option parser, so its
// global state is reset on every call.
CommandLine ParseCommandLine(int argc, char** argv, FILE* err);

}  // namespace quenby
