// Quenby: decodes the audio of a media file and encodes it to MP3 through the lame_enc module.
#include <cstdio>

#include "command_line.h"
#include "encoding_run.h"
#include "ffmpeg_source/ffmpeg_audio_graph.h"
#include "ffmpeg_source/ffmpeg_source_inspector.h"
#include "lame_library.h"

int main(int argc, char** argv) {
    const quenby::CommandLine cmd = quenby::ParseCommandLine(argc, argv, stderr);
    if (!cmd.run) return cmd.exit_code;

    quenby::FfmpegSourceInspector inspector;
    quenby::FfmpegAudioGraph graph;
    quenby::RunEnvironment env{inspector, graph, quenby::LameModuleCandidates(), stdout};
    return quenby::RunEncoding(cmd.settings, env);
}
