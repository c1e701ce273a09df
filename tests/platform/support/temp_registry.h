// Points the registry store at a fresh temporary file for the lifetime of a test.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace avs::test {

class TempRegistry {
  public:
    TempRegistry() {
        char tmpl[] = "/tmp/avs-registry-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        path_ = dir_ + "/registry.reg";
        const char* old = std::getenv("AVS_REGISTRY");
        had_old_ = old != nullptr;
        if (had_old_) old_ = old;
        ::setenv("AVS_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry() {
        if (had_old_)
            ::setenv("AVS_REGISTRY", old_.c_str(), 1);
        else
            ::unsetenv("AVS_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& Path() const { return path_; }
    const std::string& Dir() const { return dir_; }
    std::string Text() const {
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

  private:
    std::string dir_, path_, old_;
    bool had_old_ = false;
};

}  // namespace avs::test
