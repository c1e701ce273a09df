// Registers or unregisters a filter module, as regsvr32 does on Windows.
#pragma once

#include <string>

namespace avs::regsvr {

struct Result {
    int exit_code = 0;    // 0 done, 3 module not loadable, 4 entry point missing, 5 call failed
    std::string message;  // one line, without newline
};

Result Run(const std::string& module_path, bool unregister);

}  // namespace avs::regsvr
