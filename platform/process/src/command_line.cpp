#include "process/command_line.h"

namespace avs::process {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view text) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = text.size();

    // The program name: quotes toggle, nothing is escaped.
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) return args;
    {
        std::string program;
        bool quoted = false;
        for (; i < n; ++i) {
            const char c = text[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (IsBlank(c) && !quoted) {
                break;
            } else {
                program.push_back(c);
            }
        }
        args.push_back(std::move(program));
    }

    for (;;) {
        while (i < n && IsBlank(text[i])) ++i;
        if (i == n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            const char c = text[i];
            if (c == '\\') {
                size_t slashes = 0;
                while (i < n && text[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg.push_back('"');
                        ++i;
                    }
                    // An even count leaves the quote for the next pass to toggle.
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < n && text[i + 1] == '"') {
                    arg.push_back('"');
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            if (IsBlank(c) && !quoted) break;
            arg.push_back(c);
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace avs::process
