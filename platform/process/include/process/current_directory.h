#pragma once
// The current directory, where children start: UTF-8 paths on every platform.

#include <string>

namespace avs::process {

// "." when it cannot be read.
std::string CurrentDirectory();
bool ChangeCurrentDirectory(const std::string& path);

}  // namespace avs::process
