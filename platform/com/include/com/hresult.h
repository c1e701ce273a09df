// HRESULT values and the tests on them.
#pragma once

#include "com/types.h"

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define MAKE_HRESULT(sev, fac, code)                                                         \
    static_cast<HRESULT>((static_cast<DWORD>(sev) << 31) | (static_cast<DWORD>(fac) << 16) | \
                         (static_cast<DWORD>(code)))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)

constexpr HRESULT hr_of(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hr_of(0x80004001u);
constexpr HRESULT E_NOINTERFACE = hr_of(0x80004002u);
constexpr HRESULT E_POINTER = hr_of(0x80004003u);
constexpr HRESULT E_ABORT = hr_of(0x80004004u);
constexpr HRESULT E_FAIL = hr_of(0x80004005u);
constexpr HRESULT E_UNEXPECTED = hr_of(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = hr_of(0x80070005u);
constexpr HRESULT E_HANDLE = hr_of(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = hr_of(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = hr_of(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = hr_of(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr_of(0x80040111u);
constexpr HRESULT REGDB_E_READREGDB = hr_of(0x80040150u);
constexpr HRESULT REGDB_E_WRITEREGDB = hr_of(0x80040151u);
constexpr HRESULT REGDB_E_KEYMISSING = hr_of(0x80040152u);
constexpr HRESULT REGDB_E_CLASSNOTREG = hr_of(0x80040154u);
constexpr HRESULT CO_E_DLLNOTFOUND = hr_of(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = hr_of(0x800401F9u);
constexpr HRESULT CO_E_NOTINITIALIZED = hr_of(0x800401F0u);

// DirectShow results.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = hr_of(0x80040200u);
constexpr HRESULT VFW_E_INVALIDSUBTYPE = hr_of(0x80040201u);
constexpr HRESULT VFW_E_NEED_OWNER = hr_of(0x80040202u);
constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = hr_of(0x80040203u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = hr_of(0x80040204u);
constexpr HRESULT VFW_E_FILTER_ACTIVE = hr_of(0x80040205u);
constexpr HRESULT VFW_E_NO_TYPES = hr_of(0x80040206u);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = hr_of(0x80040207u);
constexpr HRESULT VFW_E_INVALID_DIRECTION = hr_of(0x80040208u);
constexpr HRESULT VFW_E_NOT_CONNECTED = hr_of(0x80040209u);
constexpr HRESULT VFW_E_NO_ALLOCATOR = hr_of(0x8004020Au);
constexpr HRESULT VFW_E_RUNTIME_ERROR = hr_of(0x8004020Bu);
constexpr HRESULT VFW_E_BUFFER_NOTSET = hr_of(0x8004020Cu);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = hr_of(0x8004020Du);
constexpr HRESULT VFW_E_BADALIGN = hr_of(0x8004020Eu);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = hr_of(0x8004020Fu);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = hr_of(0x80040210u);
constexpr HRESULT VFW_E_NOT_COMMITTED = hr_of(0x80040211u);
constexpr HRESULT VFW_E_SIZENOTSET = hr_of(0x80040212u);
constexpr HRESULT VFW_E_NO_CLOCK = hr_of(0x80040213u);
constexpr HRESULT VFW_E_NO_SINK = hr_of(0x80040214u);
constexpr HRESULT VFW_E_NO_INTERFACE = hr_of(0x80040215u);
constexpr HRESULT VFW_E_NOT_FOUND = hr_of(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = hr_of(0x80040217u);
constexpr HRESULT VFW_E_CANNOT_RENDER = hr_of(0x80040218u);
constexpr HRESULT VFW_E_CHANGING_FORMAT = hr_of(0x80040219u);
constexpr HRESULT VFW_E_STATE_CHANGED = hr_of(0x80040223u);
constexpr HRESULT VFW_E_NOT_STOPPED = hr_of(0x80040224u);
constexpr HRESULT VFW_E_NOT_PAUSED = hr_of(0x80040225u);
constexpr HRESULT VFW_E_NOT_RUNNING = hr_of(0x80040226u);
constexpr HRESULT VFW_E_WRONG_STATE = hr_of(0x80040227u);
constexpr HRESULT VFW_E_START_TIME_AFTER_END = hr_of(0x80040228u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = hr_of(0x8004022Au);
constexpr HRESULT VFW_E_SAMPLE_REJECTED = hr_of(0x8004022Bu);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = hr_of(0x8004022Cu);
constexpr HRESULT VFW_E_DUPLICATE_NAME = hr_of(0x8004022Du);
constexpr HRESULT VFW_E_TIMEOUT = hr_of(0x8004022Eu);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = hr_of(0x8004022Fu);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = hr_of(0x80040240u);
constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = hr_of(0x80040241u);
constexpr HRESULT VFW_E_FILE_TOO_SHORT = hr_of(0x80040243u);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = hr_of(0x8004025Fu);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = hr_of(0x80040249u);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = hr_of(0x80040251u);
constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;

#define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? (HRESULT)(x) : (HRESULT)(((x)&0x0000FFFF) | (7 << 16) | 0x80000000))
constexpr HRESULT HRESULT_FILE_NOT_FOUND =
    hr_of(0x80070002u);  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
