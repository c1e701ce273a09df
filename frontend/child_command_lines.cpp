#include "frontend/child_command_lines.h"

#include <initializer_list>

namespace avs::frontend {
namespace {

std::string CommandLine(std::string_view start_dir, std::string_view program,
                        std::initializer_list<std::string_view> files, std::string_view tail) {
    std::string line = "\"";
    line += start_dir;
    line += kPathSeparator;
    line += program;
    line += '"';
    for (std::string_view file : files) {
        line += " \"";
        line += file;
        line += '"';
    }
    line += tail;
    return line;
}

bool Quotable(std::string_view path) {
    return path.find('"') == std::string_view::npos && (path.empty() || path.back() != '\\');
}

}  // namespace

std::string PathTheQuotingCannotCarry(std::string_view start_dir, const SourceNames& names) {
    // Each further path only adds an extension to the base, so these three cover them all.
    for (std::string_view path :
         {start_dir, std::string_view(names.input), std::string_view(names.base)}) {
        if (!Quotable(path)) return std::string(path);
    }
    return {};
}

SourceNames DeriveSourceNames(std::string_view input, std::string_view output_path) {
    SourceNames names;
    names.input = input;
    const size_t cut = input.rfind(kPathSeparator);
    names.name = cut == std::string_view::npos ? input : input.substr(cut + 1);
    if (output_path.empty()) {
        names.base = names.input;
    } else {
        names.base = output_path;
        names.base += kPathSeparator;
        names.base += names.name;
    }
    return names;
}

std::string VideoCommandLine(std::string_view start_dir, const SourceNames& n,
                             std::string_view video_options) {
    std::string tail = " ";
    tail += video_options;
    return CommandLine(start_dir, kVideoEncoder, {n.input, n.Avs()}, tail);
}

std::string AudioCommandLine(std::string_view start_dir, const SourceNames& n) {
    return CommandLine(start_dir, kAudioEncoder, {n.input, n.Mp3()}, "");
}

std::string ContainerVideoCommandLine(std::string_view start_dir, const SourceNames& n) {
    return CommandLine(start_dir, kContainerBuilder, {n.Avs(), n.Asm()}, " -f");
}

std::string ContainerAudioCommandLine(std::string_view start_dir, const SourceNames& n) {
    return CommandLine(start_dir, kContainerBuilder, {n.Mp3(), n.Asm()}, "");
}

std::string MultiplexCommandLine(std::string_view start_dir, const SourceNames& n) {
    return CommandLine(start_dir, kMultiplexer, {n.Avs(), n.Mp3(), n.Dat(), n.AvsTs()}, "");
}

}  // namespace avs::frontend
