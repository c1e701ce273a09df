// Everything of the COM layer in one include.
#pragma once

#ifdef _WIN32
// Windows has COM itself; only the project's helpers on top of it are added.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include "com/comptr.h"
#include "com/memory.h"
#else
#include "com/comptr.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/memory.h"
#include "com/registry.h"
#include "com/runtime.h"
#include "com/types.h"
#include "com/unknown.h"
#endif  // _WIN32
