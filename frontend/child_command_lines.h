#pragma once
// Names of one source's files and the command lines of the child programs that make them.

#include <string>
#include <string_view>

namespace avs::frontend {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

#ifdef _WIN32
inline constexpr char kVideoEncoder[] = "Harrowgate.exe";
inline constexpr char kAudioEncoder[] = "Quenby.exe";
inline constexpr char kContainerBuilder[] = "Lindqvale.exe";
inline constexpr char kMultiplexer[] = "Korvel.exe";
#else
inline constexpr char kVideoEncoder[] = "Harrowgate";
inline constexpr char kAudioEncoder[] = "Quenby";
inline constexpr char kContainerBuilder[] = "Lindqvale";
inline constexpr char kMultiplexer[] = "Korvel";
#endif

struct SourceNames {
    std::string input;  // the list entry
    std::string name;   // after the last separator, extension kept
    std::string base;   // the input itself, or output_path + separator + name

    std::string Avs() const { return base + ".avs"; }
    std::string Mp3() const { return base + ".mp3"; }
    std::string Dat() const { return base + ".dat"; }
    std::string Asm() const { return base + ".asm"; }
    std::string AvsTs() const { return base + ".avsts"; }
};

// output_path is used as typed: only the empty text counts as empty.
SourceNames DeriveSourceNames(std::string_view input, std::string_view output_path);

// The path on a command line that the quoting cannot carry, or empty when all can: a double
// quote ends the quoted argument early, and a backslash before the closing quote escapes it.
std::string PathTheQuotingCannotCarry(std::string_view start_dir, const SourceNames& names);

// The command lines: the program quoted after the start directory, each path quoted, paths
// passed as they are (no escaping).
std::string VideoCommandLine(std::string_view start_dir, const SourceNames& names,
                             std::string_view video_options);
std::string AudioCommandLine(std::string_view start_dir, const SourceNames& names);
std::string ContainerVideoCommandLine(std::string_view start_dir, const SourceNames& names);
std::string ContainerAudioCommandLine(std::string_view start_dir, const SourceNames& names);
std::string MultiplexCommandLine(std::string_view start_dir, const SourceNames& names);

}  // namespace avs::frontend
