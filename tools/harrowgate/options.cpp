#include "tools/harrowgate/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

namespace harrowgate {
namespace {

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < -2147483647L || parsed > 2147483647L) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

}  // namespace

std::string UsageText() {
    return "usage: Harrowgate SOURCE OUT.avs [-w width -h height] [-g gop] [-q qp] [-n fps]\n"
           "       [-c chroma] [-p progressive] [-b bframes] [-a ratecontrol] [-f fvalue]\n"
           "       [-s bitrate] [-o rdo] [-m searchrange] [-t threads] [-l loopfilter]\n"
           "Writes an AVS1-P2 elementary stream to OUT.avs and its picture time stamps to\n"
           "OUT.dat, printing the percentage done.\n";
}

ParseResult ParseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    for (const std::string& arg : args)
        if (arg == "--help") {
            result.help = true;
            return result;
        }
    if (args.size() < 2) {
        result.error = "expected a source file and an output file";
        return result;
    }
    Options options;
    options.source = args[0];
    options.output = args[1];
    if (options.source.empty() || options.output.empty()) {
        result.error = "empty file name";
        return result;
    }
    static const std::set<std::string> kIgnored = {"-f"};
    // Whole-number options and their accepted ranges.
    struct Range {
        const char* name;
        int low;
        int high;
    };
    static const Range kRanges[] = {{"-w", 0, 16368},
                                    {"-h", 0, 16368},
                                    {"-g", 1, 2147483647},
                                    {"-q", 0, 63},
                                    {"-c", 1, 2},
                                    {"-m", 0, 1024},
                                    {"-a", 0, 3},
                                    {"-s", 0, 1000000},
                                    {"-l", 0, 1},
                                    {"-o", 0, 1},
                                    {"-t", 1, 64},
                                    {"-p", 0, 1},
                                    {"-b", -2147483647, 2147483647}};
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) {
            result.error = "option " + name + " needs a value";
            return result;
        }
        const std::string& value = args[i + 1];
        int number = 0;
        const Range* range = nullptr;
        for (const Range& r : kRanges)
            if (name == r.name) range = &r;
        if (range != nullptr) {
            if (!ParseInt(value, number)) {
                result.error = "option " + name + " needs a whole number, not \"" + value + "\"";
                return result;
            }
            if (number < range->low || number > range->high) {
                result.error = "option " + name + " must be " + std::to_string(range->low) +
                               " to " + std::to_string(range->high);
                if (name == "-g") result.error = "option -g must be at least 1";
                return result;
            }
            if (name == "-w") options.width = number;
            if (name == "-h") options.height = number;
            if (name == "-g") options.gop_length = number;
            if (name == "-q") options.qp = number;
            if (name == "-m") options.search_range = number;
            if (name == "-a") options.rate_control = number != 0;
            if (name == "-s") options.bit_rate_kbit = number;
            if (name == "-l") options.loop_filter = number != 0;
            if (name == "-t") options.threads = number;
            if (name == "-o") options.rdo = number != 0;
            if (name == "-p") options.progressive = number != 0;
            if (name == "-b") {
                // The settings dialog takes any number: a count outside what this encoder
                // codes is brought into range, with a note, rather than fail the conversion.
                options.b_pictures = std::clamp(number, 0, kMaxBPictures);
                if (options.b_pictures != number)
                    result.note = "option -b " + std::to_string(number) + " is outside 0 to " +
                                  std::to_string(kMaxBPictures) + ": coding with -b " +
                                  std::to_string(options.b_pictures);
            }
            if (name == "-c" && number == 2) {
                result.error =
                    "option -c 2 (4:2:2) is not supported: this encoder writes the Jizhun "
                    "profile, which is 4:2:0 only (-c 1)";
                return result;
            }
        } else if (name == "-n") {
            double fps = 0;
            if (!ParseDouble(value, fps) || fps <= 0) {
                result.error = "option -n needs a positive frame rate, not \"" + value + "\"";
                return result;
            }
            options.frame_rate = fps;
        } else if (kIgnored.count(name) != 0) {
            // Accepted for the front-end's sake; this encoder has no use for it.
        } else {
            result.error = "unknown option " + name;
            return result;
        }
    }
    // A size is used only when both are given and non-zero.
    if (!options.width || !options.height || *options.width == 0 || *options.height == 0) {
        options.width.reset();
        options.height.reset();
    }
    result.options = options;
    return result;
}

std::string TimestampPathFor(const std::string& output) {
    std::string base = output;
    if (base.size() > 4) {
        std::string tail = base.substr(base.size() - 4);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".avs") base.resize(base.size() - 4);
    }
    return base + ".dat";
}

}  // namespace harrowgate
