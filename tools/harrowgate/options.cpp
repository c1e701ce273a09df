#include "options.h"

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
    static const std::set<std::string> kIgnored = {"-c", "-p", "-b", "-a", "-f",
                                                   "-s", "-o", "-m", "-t", "-l"};
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) {
            result.error = "option " + name + " needs a value";
            return result;
        }
        const std::string& value = args[i + 1];
        int number = 0;
        if (name == "-w" || name == "-h" || name == "-g" || name == "-q") {
            if (!ParseInt(value, number)) {
                result.error = "option " + name + " needs a whole number, not \"" + value + "\"";
                return result;
            }
            if (name == "-w" || name == "-h") {
                if (number < 0 || number > 16368) {
                    result.error = "option " + name + " must be 0 to 16368";
                    return result;
                }
                (name == "-w" ? options.width : options.height) = number;
            } else if (name == "-g") {
                if (number < 1) {
                    result.error = "option -g must be at least 1";
                    return result;
                }
                options.gop_length = number;
            } else {
                if (number < 0 || number > 63) {
                    result.error = "option -q must be 0 to 63";
                    return result;
                }
                options.qp = number;
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
