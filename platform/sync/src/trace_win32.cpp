// Trace lines on Windows go to the debugger's output (OutputDebugStringA), where a debugger
// or a log viewer picks them up.
#include <windows.h>

#include "trace_output.h"

namespace avs::sync {

void WriteTraceLine(const std::string& line) {
    const std::string out = "trace: " + line + "\n";
    OutputDebugStringA(out.c_str());
}

}  // namespace avs::sync
