#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace harrowgate_test {

struct CommandResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh directory under /tmp, removed when the object goes.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/harrowgate-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a shell command line, capturing standard output and error in files of `dir`.
inline CommandResult RunCommand(const std::string& command, const TempDir& dir) {
    const std::string out = dir.File("cmd.out");
    const std::string err = dir.File("cmd.err");
    const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    CommandResult r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

}  // namespace harrowgate_test
