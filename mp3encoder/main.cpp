// Quenby: decodes the audio of a media file and encodes it to MP3 through the lame_enc module.
#include <cstdio>

#include "com/objbase.h"
#include "command_line.h"
#include "dshow_source/dshow_audio_graph.h"
#include "dshow_source/media_det_listing.h"
#include "encoding_run.h"
#include "lame_library.h"

namespace {

int Run(int argc, char** argv) {
    const quenby::CommandLine cmd = quenby::ParseCommandLine(argc, argv, stderr);
    if (!cmd.run) return cmd.exit_code;
    quenby::MediaDetInspector inspector;
    quenby::DshowAudioGraph graph;
    quenby::RunEnvironment env{inspector, graph, quenby::LameModuleCandidates(), stdout};
    return quenby::RunEncoding(cmd.settings, env);
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    const int code = Run(argc, argv);  // the graph is released before COM goes
    CoUninitialize();
    return code;
}
