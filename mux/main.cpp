#include <cstdio>
#include <string>
#include <vector>

#include "files/files.h"
#include "mux/korvel.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = avs::files::Utf8Arguments(argc, argv);
    std::vector<const char*> arg_pointers;
    for (const std::string& arg : args) arg_pointers.push_back(arg.c_str());
    return mux::RunKorvel(static_cast<int>(arg_pointers.size()), arg_pointers.data(), stdout,
                          stderr);
}
