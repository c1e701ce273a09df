#include "mp3encoder/command_line.h"

#include <getopt.h>

#include <cstring>

namespace quenby {
namespace {

constexpr const char* kUsage =
    " <options> <file>\n  Options:\n  -bitrate=<bitrate>\t\t\tCBR bitrate, VBR min bitrate\n"
    "  -Vbitrate=<Vbitrate>\t\t\tVBR Max bitrate\n  -samplerate=<samplerate>\t\tReSampleRate\n"
    "  -mode=<mode>\t\t\t\t\tSTEREO-0,JSTEREO-1,DUALCHANNEL-2,MONO-3\n"
    "  -help\t\t\t\t\t\tDisplay the Usage\n";

constexpr const char* kShortOptions = "b:s:m:v:?";

const option kLongOptions[] = {
    {"bitrate", required_argument, nullptr, 'b'},    {"help", no_argument, nullptr, '?'},
    {"samplerate", required_argument, nullptr, 's'}, {"mode", required_argument, nullptr, 'm'},
    {"Vbitrate", required_argument, nullptr, 'v'},   {nullptr, 0, nullptr, 0},
};

// The C library's "%u": leading blanks and a sign allowed, trailing text ignored, a minus
// wraps around.
bool ReadUnsigned(const char* text, unsigned& value) {
    return std::sscanf(text, "%u", &value) == 1;
}

CommandLine Exit(int code) {
    CommandLine result;
    result.exit_code = code;
    return result;
}

}  // namespace

void PrintUsage(FILE* err) {
    std::fprintf(err, "usage: %s", kUsage);
    std::fflush(err);
}

CommandLine ParseCommandLine(int argc, char** argv, FILE* err) {
    if (argc < 3) {
        PrintUsage(err);
        return Exit(1);
    }
    CommandLine result;
    RunSettings& s = result.settings;
    s.input_path = argv[1];
    s.output_path = argv[2];

    optind = 0;  // full re-initialisation of the parser's state
    opterr = 1;
    for (;;) {
        optopt = 0;
        const int c = getopt_long_only(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (c == -1) break;
        unsigned value = 0;
        switch (c) {
            case 'b':
                if (!ReadUnsigned(optarg, value)) {
                    std::fprintf(err, "Bad bitrate specified: %s\n", optarg);
                    return Exit(1);
                }
                s.bitrate = value;
                break;
            case 's':
                if (!ReadUnsigned(optarg, value)) {
                    std::fprintf(err, "Bad samplerate specified: %s\n", optarg);
                    return Exit(1);
                }
                s.sample_rate = value;
                break;
            case 'm':
                if (!ReadUnsigned(optarg, value)) {
                    std::fprintf(err, "Bad mode specified: %s\n", optarg);
                    return Exit(1);
                }
                s.mode = static_cast<int>(value);
                break;
            case 'v':
                if (!ReadUnsigned(optarg, value)) {
                    std::fprintf(err, "Bad VBR bitrate specified: %s\n", optarg);
                    return Exit(1);
                }
                s.vbr_bitrate = value;
                break;
            default:
                // An option given without its value has no number to read: that is an error,
                // unlike -help or an unknown option, which only ask for the usage.
                if (optopt != 0 && std::strchr("bsmv", optopt) != nullptr) {
                    PrintUsage(err);
                    return Exit(1);
                }
                PrintUsage(err);
                return Exit(0);
        }
    }
    if (optind >= argc) {
        PrintUsage(err);
        return Exit(1);
    }
    result.run = true;
    return result;
}

}  // namespace quenby
