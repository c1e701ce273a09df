// Filter graph event codes.
#pragma once

#ifdef _WIN32
// Windows has these: the SDK's headers take the place of this one.
#include "dshow/sdk_compat.h"
#else
#include "com/types.h"

constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_PAUSED = 0x0E;
#endif  // _WIN32
