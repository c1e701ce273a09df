// Identifiers mingw-w64's headers declare but its import libraries do not define.
#include "dshow/sdk_compat.h"

extern "C" const GUID IID_IAMMediaContent = {
    0xfa2aa8f4, 0x8b62, 0x11d0, {0xa5, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
