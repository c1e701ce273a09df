// avsplay INPUT [--video FILE] [--audio FILE] [--log FILE] [--seek SECONDS] [--decode]
#include <unistd.h>

#include <cstdio>

#include "tools/avsplay/options.h"
#include "tools/avsplay/player.h"

int main(int argc, char** argv) {
    const avsplay::ParseResult r = avsplay::parse_command_line(argc, argv);
    if (r.kind == avsplay::ParseResult::Kind::kHelp) {
        std::fputs(avsplay::help_text().c_str(), stdout);
        return 0;
    }
    if (r.kind == avsplay::ParseResult::Kind::kError) {
        std::fprintf(stderr, "avsplay: %s\n%s", r.error.c_str(), avsplay::kUsage);
        return 2;
    }
    // Progress only for a person watching.
    return avsplay::Run(r.options, stdout, isatty(STDERR_FILENO) ? stderr : nullptr);
}
