#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "module/module.h"

namespace avs::module {

ModuleHandle OpenModule(const std::string& name) {
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindExport(ModuleHandle module, const char* name) {
    return module != nullptr ? dlsym(module, name) : nullptr;
}

void CloseModule(ModuleHandle module) {
    if (module != nullptr) dlclose(module);
}

std::string ModuleFileName(const std::string& base) {
    return base + ".so";
}

std::vector<std::string> ProgramModuleCandidates(const std::string& file_name) {
    // The dynamic loader does not look beside the program by itself.
    std::vector<std::string> candidates;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        const auto slash = dir.rfind('/');
        if (slash != std::string::npos) candidates.push_back(dir.substr(0, slash + 1) + file_name);
    }
    candidates.push_back(file_name);
    return candidates;
}

}  // namespace avs::module
