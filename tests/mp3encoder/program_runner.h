// Runs a built program or a shell command and collects what it wrote.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quenby_test {

struct ProgramResult {
    int exit_code = -1000;  // exit status as the shell sees it (0..255), or -1000 if killed
    std::string out;
    std::string err;
};

inline std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `program` with `args` in `cwd`, standard output and error kept apart.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::filesystem::path& cwd) {
    const auto out_path = cwd / ".stdout";
    const auto err_path = cwd / ".stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        const int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(121);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(122);
    }
    ProgramResult r;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    r.out = ReadAll(out_path);
    r.err = ReadAll(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
}

// Runs a shell command and returns its standard output; empty on failure.
inline std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) return {};
    return out;
}

}  // namespace quenby_test
