#include <cstdio>
#include <string>
#include <vector>

#include "files/files.h"
#include "tools/lindqvale/lindqvale.h"

int main(int argc, char** argv) {
    // UTF-8 arguments, so names outside the ANSI code page reach the files on Windows.
    std::vector<std::string> args = avs::files::Utf8Arguments(argc, argv);
    std::vector<char*> arg_pointers;
    for (std::string& arg : args) arg_pointers.push_back(arg.data());
    return lindqvale::Run(static_cast<int>(arg_pointers.size()), arg_pointers.data(), stdout,
                          stderr);
}
