// Quenby: decodes the audio of a media file and encodes it to MP3 through the lame_enc module.
#include <cstdio>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "files/files.h"
#include "mp3encoder/command_line.h"
#include "mp3encoder/dshow_source/dshow_audio_graph.h"
#include "mp3encoder/dshow_source/media_det_listing.h"
#include "mp3encoder/encoding_run.h"
#include "mp3encoder/lame_library.h"

namespace {

int Run(int argc, char** argv) {
    // Paths are UTF-8 inside (on Windows from the wide command line); the option parser
    // reorders the argument list, so it gets copies it may change.
    std::vector<std::string> args = avs::files::Utf8Arguments(argc, argv);
    std::vector<char*> arg_pointers;
    for (std::string& arg : args) arg_pointers.push_back(arg.data());
    arg_pointers.push_back(nullptr);
    // The run's messages carry their own CR LF line ends and the progress blocks are
    // counted bytes: standard output passes them unchanged.
    avs::files::SetBinaryMode(stdout);
    const quenby::CommandLine cmd =
        quenby::ParseCommandLine(static_cast<int>(args.size()), arg_pointers.data(), stderr);
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
