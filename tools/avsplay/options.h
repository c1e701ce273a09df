// avsplay's command line.
#pragma once

#include <optional>
#include <string>

namespace avsplay {

struct Options {
    std::string input;  // a file, or (later) an rtsp:// address
    std::string video_out;
    std::string audio_out;
    std::string log;
    std::optional<double> seek_seconds;
    bool decode = false;
    bool real_time = false;  // keep the graph clock (streams from a server)
};

inline constexpr const char* kUsage =
    "usage: avsplay INPUT [--video FILE] [--audio FILE] [--log FILE] [--seek SECONDS] "
    "[--decode]\n";

// The full help text (usage and what each option does).
std::string HelpText();

// Result of reading the command line: run, show help, or a usage error.
struct ParseResult {
    enum class Kind { kRun, kHelp, kError } kind = Kind::kRun;
    Options options;
    std::string error;  // one line, for kError
};
ParseResult ParseCommandLine(int argc, const char* const* argv);

}  // namespace avsplay
