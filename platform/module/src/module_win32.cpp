#include <windows.h>

#include "module/module.h"

namespace avs::module {

ModuleHandle OpenModule(const std::string& name) {
    // A module name is UTF-8 like every path inside the tool set.
    const int n = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
    if (n <= 0) return nullptr;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), n);
    return LoadLibraryW(wide.c_str());
}

void* FindExport(ModuleHandle module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(ModuleHandle module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

std::string ModuleFileName(const std::string& base) {
    return base + ".dll";
}

std::vector<std::string> ProgramModuleCandidates(const std::string& file_name) {
    // LoadLibrary looks in the program's folder first by itself.
    return {file_name};
}

}  // namespace avs::module
