#include <cstdio>
#include <string>
#include <vector>

#include "encoder_run.h"
#include "options.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const harrowgate::ParseResult parsed = harrowgate::parse_options(args);
    if (parsed.help) {
        std::fputs(harrowgate::usage_text().c_str(), stdout);
        return 0;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "Harrowgate: %s\n%s", parsed.error.c_str(),
                     harrowgate::usage_text().c_str());
        return 1;
    }
    return harrowgate::run_encoder(*parsed.options, stdout, stderr);
}
