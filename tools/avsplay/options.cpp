#include "tools/avsplay/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace avsplay {

std::string HelpText() {
    return std::string(kUsage) +
           "Plays INPUT through the registered filters into capture renderers, as fast as\n"
           "the filters deliver, and prints a summary per stream.\n"
           "  --video FILE     write the video samples' bytes in delivery order\n"
           "  --audio FILE     write the audio samples' bytes in delivery order\n"
           "  --log FILE       one line per sample: stream start stop sync discontinuity "
           "length\n"
           "  --seek SECONDS   seek the graph to this position before running\n"
           "  --decode         decode the delivered video with FFmpeg's AVS decoder\n"
           "The filter modules must be registered first: regsvr MODULE (regsvr32 on Windows).\n";
}

ParseResult ParseCommandLine(int argc, const char* const* argv) {
    ParseResult r;
    auto fail = [&](std::string message) {
        r.kind = ParseResult::Kind::kError;
        r.error = std::move(message);
        return r;
    };
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            r.kind = ParseResult::Kind::kHelp;
            return r;
        }
        if (std::strcmp(a, "--video") == 0 || std::strcmp(a, "--audio") == 0 ||
            std::strcmp(a, "--log") == 0) {
            const char* v = value();
            if (v == nullptr || *v == 0) return fail(std::string(a) + " needs a file name");
            std::string& target = a[2] == 'v'   ? r.options.video_out
                                  : a[2] == 'a' ? r.options.audio_out
                                                : r.options.log;
            target = v;
        } else if (std::strcmp(a, "--seek") == 0) {
            const char* v = value();
            if (v == nullptr) return fail("--seek needs a number of seconds");
            char* end = nullptr;
            errno = 0;
            const double s = std::strtod(v, &end);
            if (end == v || *end != 0 || errno != 0 || !std::isfinite(s) || s < 0 || s > 1e9)
                return fail(std::string("bad --seek value: ") + v);
            r.options.seek_seconds = s;
        } else if (std::strcmp(a, "--decode") == 0) {
            r.options.decode = true;
        } else if (a[0] == '-' && a[1] != 0) {
            return fail(std::string("unknown option: ") + a);
        } else if (r.options.input.empty()) {
            r.options.input = a;
        } else {
            return fail(std::string("more than one input: ") + a);
        }
    }
    if (r.options.input.empty()) return fail("no input given");
    return r;
}

}  // namespace avsplay
