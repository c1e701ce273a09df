// One run of Quenby after its command line was read: inspect the source, build the graph,
// start the encoder, let the graph deliver every sample, finish the MP3 file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "mp3encoder/audio_source.h"
#include "mp3encoder/run_settings.h"

namespace quenby {

struct RunEnvironment {
    SourceInspector& inspector;
    AudioGraph& graph;
    std::vector<std::string> lame_modules;  // where to look for the encoder module, in order
    FILE* console;                          // standard output
};

// Returns the exit code: 0 when the MP3 file was written, -1 when the run failed.
int RunEncoding(const RunSettings& settings, RunEnvironment& env);

}  // namespace quenby
