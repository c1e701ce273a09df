// Threads, events, timing and diagnostics under their Win32 names.
//
// Handles are reference-counted kernel objects: events (named events are shared by name
// within the process, as Windows shares them within a session) and threads (waitable
// until the thread ends). CloseHandle drops one reference.
#pragma once

#include <functional>
#include <string>

#ifdef _WIN32
// Windows has all of these itself, the message box included.
#include <windows.h>
#else
#include "com/types.h"

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x4;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// Events. A name, when given, makes the event shared with every other CreateEvent of
// that name while one handle to it is open; GetLastError then reports
// ERROR_ALREADY_EXISTS and the flags of the first creation stay in force.
HANDLE CreateEventA(LPVOID security, BOOL manualReset, BOOL initialState, LPCSTR name);
HANDLE CreateEventW(LPVOID security, BOOL manualReset, BOOL initialState, LPCWSTR name);
#define CreateEvent CreateEventA
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Waits on an event or a thread; WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Waits until one of the handles is signalled (waitAll is not supported: FALSE only).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);

// Threads.
HANDLE CreateThread(LPVOID security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD* threadId);
// Best effort: a priority the process may not take (raising without privileges) is kept
// as the thread's nominal priority and TRUE is still returned.
BOOL SetThreadPriority(HANDLE thread, int priority);
DWORD ResumeThread(HANDLE thread);  // starts a thread created with CREATE_SUSPENDED
int GetThreadPriority(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

// Critical sections (recursive, as on Windows).
struct CRITICAL_SECTION {
    void* impl;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Timing and arithmetic.
DWORD timeGetTime();  // milliseconds since an arbitrary start, wrapping at 2^32
DWORD GetTickCount();
int MulDiv(int number, int numerator, int denominator);  // rounded; -1 on overflow or /0

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);

// Message box: one line "caption: text" on standard error in console and filter code.
constexpr UINT MB_OK = 0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
#define MessageBox MessageBoxA

#endif  // _WIN32

// Trace hook: silent unless the environment variable AVS_TRACE is set (non-empty and not
// "0"); then each line goes to standard error (on Windows to OutputDebugStringA), or to
// the sink set below.
void AvsTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool AvsTraceEnabled();
// Replaces the output of trace lines (tests); an empty function restores standard error.
// A sink also turns tracing on regardless of AVS_TRACE.
void AvsSetTraceSink(std::function<void(const std::string&)> sink);
#ifndef _WIN32
// Same for message boxes, so tests can see them.
void AvsSetMessageBoxSink(
    std::function<void(const std::string& text, const std::string& caption)> sink);
#endif
