// Basic Windows data types, calling-convention macros and interface macros, with the
// sizes they have on 32-bit Windows wherever the size is part of a layout or an API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

using BYTE = std::uint8_t;
using UCHAR = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using UINT_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HRESULT = std::int32_t;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;

// Wide text is wchar_t so that L"" literals work unchanged on both platforms.
using WCHAR = wchar_t;
using OLECHAR = WCHAR;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using TCHAR = char;
using LPTSTR = char*;
using LPCTSTR = const char*;
#ifndef TEXT
#define TEXT(s) s
#endif

using HANDLE = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using HWND = void*;
using HEVENT = HANDLE;
using HSEMAPHORE = HANDLE;
using LCID = DWORD;
using DISPID = LONG;
using VARIANT_BOOL = std::int16_t;
using REFERENCE_TIME = LONGLONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

#define WINAPI
#define CALLBACK
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
// Exported functions of a module keep default visibility; a version script picks which.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define EXTERN_C extern "C"
#define UNREFERENCED_PARAMETER(p) ((void)(p))
#define NOERROR 0

#define FIELD_OFFSET(type, field) offsetof(type, field)
#define NAME(x) (x)

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(RECT) == 16);
