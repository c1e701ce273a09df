// Everything of the COM layer in one include.
#pragma once

#include "com/comptr.h"
#include "com/guid.h"
#include "com/hresult.h"
#include "com/memory.h"
#include "com/registry.h"
#include "com/runtime.h"
#include "com/types.h"
#include "com/unknown.h"
