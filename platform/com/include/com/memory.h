// Task memory and BSTR helpers.
#pragma once

#include <string>
#include <string_view>

#ifdef _WIN32
// Windows has the task memory, BSTR and code-page functions; only the helpers below are
// the project's.
#include <objbase.h>
#else
#include "com/types.h"

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

// A BSTR is preceded by its length in bytes (32-bit) and always zero-terminated.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT cch);
void SysFreeString(BSTR bstr);
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// Text conversions as Win32 has them. Both code pages mean UTF-8 here. cchWideChar or
// cbMultiByte of -1 means a zero-terminated input whose terminator is converted too; an
// output size of 0 asks for the size needed. Returns 0 when the output is too small.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWideChar, LPSTR out,
                        int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int cbMultiByte, LPWSTR out,
                        int cchWideChar);
#endif  // _WIN32

namespace avs::com {
// Converts between UTF-8 and the wide strings of the COM API.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
// A CoTaskMemAlloc copy of a wide string, or nullptr when out of memory.
LPWSTR CoTaskStrDup(LPCWSTR text);
}  // namespace avs::com
