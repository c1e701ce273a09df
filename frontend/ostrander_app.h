#pragma once

namespace avs::frontend {

// The whole program: options, the main dialog run modally, the exit code.
int RunOstrander(int argc, char** argv);

}  // namespace avs::frontend
