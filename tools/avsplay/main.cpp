// avsplay INPUT [--video FILE] [--audio FILE] [--log FILE] [--seek SECONDS] [--decode]
#include <cstdio>
#include <string>
#include <vector>

#include "files/files.h"
#include "tools/avsplay/options.h"
#include "tools/avsplay/player.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = avs::files::Utf8Arguments(argc, argv);
    std::vector<const char*> arg_pointers;
    for (const std::string& arg : args) arg_pointers.push_back(arg.c_str());
    const avsplay::ParseResult r =
        avsplay::ParseCommandLine(static_cast<int>(arg_pointers.size()), arg_pointers.data());
    if (r.kind == avsplay::ParseResult::Kind::kHelp) {
        std::fputs(avsplay::HelpText().c_str(), stdout);
        return 0;
    }
    if (r.kind == avsplay::ParseResult::Kind::kError) {
        std::fprintf(stderr, "avsplay: %s\n%s", r.error.c_str(), avsplay::kUsage);
        return 2;
    }
    // Progress only for a person watching.
    return avsplay::Run(r.options, stdout, avs::files::IsTerminal(stderr) ? stderr : nullptr);
}
