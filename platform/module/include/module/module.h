// Modules loaded by name at run time: a shared object here, a DLL on Windows.
#pragma once

#include <string>
#include <vector>

namespace avs::module {

// The handle of a loaded module; null when it could not be loaded.
using ModuleHandle = void*;

// Loads a module by path or bare name (then the system's search order applies).
ModuleHandle OpenModule(const std::string& name);
// The address of an export, or null when the module has none by that name.
void* FindExport(ModuleHandle module, const char* name);
void CloseModule(ModuleHandle module);

// A module's file name on this platform: "lame_enc" becomes lame_enc.so or lame_enc.dll.
std::string ModuleFileName(const std::string& base);

// Where a program looks for a module that ships beside it, in order: the program's own folder
// first, then the system's search path.
std::vector<std::string> ProgramModuleCandidates(const std::string& file_name);

}  // namespace avs::module
