// A child for the Windows process tests: what it was given, when and how it ends.
//   args ARG...        each argument as the C run-time split it, then '|'; "err" on stderr
//   late MS TEXT       TEXT after MS milliseconds
//   code N             ends with exit code N at once
//   cwd                the current directory
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) return 100;
    if (std::strcmp(argv[1], "args") == 0) {
        for (int i = 2; i < argc; ++i) std::printf("%s|", argv[i]);
        std::fflush(stdout);
        std::fputs("err\n", stderr);
        return 3;
    }
    if (std::strcmp(argv[1], "late") == 0 && argc == 4) {
        Sleep(static_cast<DWORD>(std::atoi(argv[2])));
        std::printf("%s\n", argv[3]);
        return 0;
    }
    if (std::strcmp(argv[1], "code") == 0 && argc == 3) return std::atoi(argv[2]);
    if (std::strcmp(argv[1], "cwd") == 0) {
        char dir[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof dir, dir);
        std::printf("%s\n", dir);
        return 0;
    }
    return 101;
}
