// The Windows build's DirectShow headers: the SDK's own interfaces, structures and
// identifiers, plus what mingw-w64's copies lack (the base classes' setup records and
// time units). Included instead of the project's own headers, never beside them.
#pragma once

#ifndef _WIN32
#error "sdk_compat.h is for the Windows build only"
#endif

// The SDK headers depend on this order.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <strmif.h>
#include <control.h>
#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>
#include <evcode.h>
#include <qnetwork.h>
// clang-format on

// Registration records of a filter module: the setup names are the mapper's own pin and
// type records, so a module's tables go to IFilterMapper2::RegisterFilter unchanged.
using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using LPAMOVIESETUP_MEDIATYPE = REGPINTYPES*;
using AMOVIESETUP_PIN = REGFILTERPINS;
using LPAMOVIESETUP_PIN = REGFILTERPINS*;
struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
using LPAMOVIESETUP_FILTER = AMOVIESETUP_FILTER*;

// Media time is in 100 ns units.
constexpr LONGLONG UNITS = 10000000;
constexpr LONGLONG MILLISECONDS = 10000;

// The system's sample grabber and null renderer: libstrmiids defines their identifiers,
// mingw-w64's qedit.h does not declare them.
extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;
