#include "lame_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace quenby {

LameLibrary::~LameLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

LameLibrary::LoadResult LameLibrary::Load(const std::vector<std::string>& candidates) {
    for (const std::string& name : candidates) {
        handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ != nullptr) break;
    }
    if (handle_ == nullptr) return LoadResult::kNotLoaded;
    InitStream = reinterpret_cast<BEINITSTREAM>(dlsym(handle_, "beInitStream"));
    EncodeChunk = reinterpret_cast<BEENCODECHUNK>(dlsym(handle_, "beEncodeChunk"));
    DeinitStream = reinterpret_cast<BEDEINITSTREAM>(dlsym(handle_, "beDeinitStream"));
    CloseStream = reinterpret_cast<BECLOSESTREAM>(dlsym(handle_, "beCloseStream"));
    Version = reinterpret_cast<BEVERSION>(dlsym(handle_, "beVersion"));
    WriteVBRHeader = reinterpret_cast<BEWRITEVBRHEADER>(dlsym(handle_, "beWriteVBRHeader"));
    WriteInfoTag = reinterpret_cast<BEWRITEINFOTAG>(dlsym(handle_, "beWriteInfoTag"));
    if (!InitStream || !EncodeChunk || !DeinitStream || !CloseStream || !Version || !WriteVBRHeader)
        return LoadResult::kMissingExports;
    return LoadResult::kOk;
}

std::vector<std::string> LameModuleCandidates() {
    std::vector<std::string> candidates;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        const auto slash = dir.rfind('/');
        if (slash != std::string::npos)
            candidates.push_back(dir.substr(0, slash + 1) + kLameModuleName);
    }
    candidates.push_back(kLameModuleName);
    return candidates;
}

}  // namespace quenby
