#include <cstdio>
#include <string>
#include <vector>

#include "files/files.h"
#include "tools/harrowgate/encoder_run.h"
#include "tools/harrowgate/options.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The progress writes are counted bytes: no CR before the last line feed.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // UTF-8 arguments, so names outside the ANSI code page reach the files on Windows.
    std::vector<std::string> all = avs::files::Utf8Arguments(argc, argv);
    std::vector<std::string> args(all.begin() + (all.empty() ? 0 : 1), all.end());
    const harrowgate::ParseResult parsed = harrowgate::ParseOptions(args);
    if (parsed.help) {
        std::fputs(harrowgate::UsageText().c_str(), stdout);
        return 0;
    }
    if (!parsed.options) {
        // One line, as for every other failure; --help prints the usage.
        std::fprintf(stderr, "Harrowgate: %s\n", parsed.error.c_str());
        return 1;
    }
    if (!parsed.note.empty()) std::fprintf(stderr, "Harrowgate: note: %s\n", parsed.note.c_str());
    return harrowgate::RunEncoder(*parsed.options, stdout, stderr);
}
