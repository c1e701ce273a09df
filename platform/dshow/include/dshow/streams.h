// The one header filters include: the COM layer, the DirectShow interfaces, structures and
// identifiers, and the base classes. (A Windows build picks the SDK's interface headers
// here and keeps these base classes.)
#pragma once

#include "com/objbase.h"
#include "dshow/base/amalloc.h"
#include "dshow/base/amfilter.h"
#include "dshow/base/combase.h"
#include "dshow/base/ctlutil.h"
#include "dshow/base/mtype.h"
#include "dshow/base/source.h"
#include "dshow/base/wxutil.h"
#include "dshow/evcode.h"
#include "dshow/mmreg.h"
#include "dshow/strmif.h"
#include "dshow/uuids.h"
#include "sync/sync.h"
