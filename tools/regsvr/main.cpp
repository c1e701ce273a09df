// regsvr [-u] [-s] MODULE: registers a filter module (or with -u unregisters it) in the
// registry store and prints one line with the result.
#include <cstdio>
#include <cstring>
#include <string>

#include "regsvr.h"

int main(int argc, char** argv) {
    bool unregister = false, silent = false;
    std::string module;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0) {
            unregister = true;
        } else if (std::strcmp(argv[i], "-s") == 0 || std::strcmp(argv[i], "/s") == 0) {
            silent = true;
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "usage: regsvr [-u] [-s] MODULE\n"
                "  registers a filter module (-u: unregisters it); -s prints nothing.\n"
                "  The registry store is $AVS_REGISTRY, else "
                "$XDG_DATA_HOME/avs-toolset/registry.reg,\n"
                "  else ~/.local/share/avs-toolset/registry.reg.\n");
            return 0;
        } else if (argv[i][0] == '-' || !module.empty()) {
            std::fprintf(stderr, "usage: regsvr [-u] [-s] MODULE\n");
            return 1;
        } else {
            module = argv[i];
        }
    }
    if (module.empty()) {
        std::fprintf(stderr, "usage: regsvr [-u] [-s] MODULE\n");
        return 1;
    }
    avs::regsvr::Result r = avs::regsvr::Run(module, unregister);
    if (!silent) std::fprintf(r.exit_code == 0 ? stdout : stderr, "%s\n", r.message.c_str());
    return r.exit_code;
}
