#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "process/current_directory.h"

namespace avs::process {
namespace {

HANDLE H(void* handle) {
    return static_cast<HANDLE>(handle);
}

std::wstring Widen(std::string_view text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(), n, nullptr,
                        nullptr);
    return narrow;
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

ChildProcess::~ChildProcess() {
    ClosePipe();
    CloseChildHandles();
}

void ChildProcess::CloseChildHandles() {
    if (process_ != nullptr) CloseHandle(H(process_));
    if (thread_ != nullptr) CloseHandle(H(thread_));
    process_ = nullptr;
    thread_ = nullptr;
}

StartError ChildProcess::Start(std::string_view command_line, OutputMode mode) {
    ClosePipe();
    CloseChildHandles();
    pid_ = -1;
    pipe_broken_ = false;
    start_errno_ = 0;
    exit_code_.reset();

    // Both ends inheritable; the read end is then taken out so only the write end passes on.
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (mode == OutputMode::kPipe) {
        SECURITY_ATTRIBUTES sa{};
        sa.nLength = sizeof sa;
        sa.lpSecurityDescriptor = nullptr;
        sa.bInheritHandle = TRUE;
        if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
            start_errno_ = static_cast<int>(GetLastError());
            return StartError::kPipe;
        }
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
        DWORD no_wait = PIPE_NOWAIT;
        SetNamedPipeHandleState(read_end, &no_wait, nullptr, nullptr);
    }

    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (mode == OutputMode::kPipe) {
        startup.hStdOutput = write_end;
        startup.hStdError = write_end;
    }
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    if (IsAscii(command_line)) {
        std::vector<char> line(command_line.begin(), command_line.end());
        line.push_back('\0');
        started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &info);
    } else {
        // The ANSI call would turn characters outside the code page into '?': a path with
        // them goes through the wide call, with the same start-up record.
        std::wstring line = Widen(command_line);
        STARTUPINFOW wide_startup{};
        wide_startup.cb = sizeof wide_startup;
        wide_startup.dwFlags = startup.dwFlags;
        wide_startup.wShowWindow = startup.wShowWindow;
        wide_startup.hStdInput = startup.hStdInput;
        wide_startup.hStdOutput = startup.hStdOutput;
        wide_startup.hStdError = startup.hStdError;
        started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &wide_startup, &info);
    }
    if (!started) {
        start_errno_ = static_cast<int>(GetLastError());
        if (mode == OutputMode::kPipe) {
            CloseHandle(read_end);
            CloseHandle(write_end);
        }
        return StartError::kSpawn;
    }
    process_ = info.hProcess;
    thread_ = info.hThread;
    pid_ = static_cast<int64_t>(info.dwProcessId);
    if (mode == OutputMode::kPipe) {
        read_end_ = read_end;
        // Our copy of the write end must go, or the pipe would never break.
        if (!CloseHandle(write_end)) {
            start_errno_ = static_cast<int>(GetLastError());
            return StartError::kCloseWriteEnd;
        }
    }
    return StartError::kNone;
}

ReadResult ChildProcess::Read(std::span<char> buffer) {
    if (read_end_ == nullptr || pipe_broken_) return {ReadStatus::kEnd, 0};
    DWORD got = 0;
    if (ReadFile(H(read_end_), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        if (got > 0) return {ReadStatus::kData, got};
        return {ReadStatus::kEmpty, 0};
    }
    // A PIPE_NOWAIT read end fails an empty read with ERROR_NO_DATA.
    if (GetLastError() == ERROR_NO_DATA) return {ReadStatus::kEmpty, 0};
    pipe_broken_ = true;
    return {ReadStatus::kEnd, 0};
}

void ChildProcess::WaitForOutput(int timeout_ms) {
    // An anonymous pipe cannot be waited on, so look at it in short steps; the child's end
    // and input for this thread's windows end the wait at once.
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    for (;;) {
        if (read_end_ != nullptr && !pipe_broken_) {
            DWORD available = 0;
            if (!PeekNamedPipe(H(read_end_), nullptr, 0, nullptr, &available, nullptr) ||
                available > 0)
                return;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= until) return;
        const DWORD step = static_cast<DWORD>(std::min<ULONGLONG>(until - now, 2));
        const DWORD count = process_ != nullptr && !exit_code_ ? 1 : 0;
        HANDLE process = H(process_);
        const DWORD r = MsgWaitForMultipleObjects(count, &process, FALSE, step, QS_ALLINPUT);
        if (r != WAIT_TIMEOUT) {
            // The child ended or input arrived; with nothing to wait on, a failed wait must
            // not turn into a spin.
            if (r == WAIT_FAILED) Sleep(step);
            if (r != WAIT_FAILED) return;
        }
    }
}

bool ChildProcess::HasExited() {
    if (process_ == nullptr || exit_code_) return true;
    // Waiting on the handle rather than comparing the code with STILL_ACTIVE: a child may
    // end with the code 259 itself.
    if (WaitForSingleObject(H(process_), 0) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    exit_code_ = GetExitCodeProcess(H(process_), &code) ? static_cast<int>(code) : -1;
    return true;
}

int ChildProcess::Wait() {
    if (process_ == nullptr) return -1;
    if (exit_code_) return *exit_code_;
    WaitForSingleObject(H(process_), INFINITE);
    DWORD code = 0;
    exit_code_ = GetExitCodeProcess(H(process_), &code) ? static_cast<int>(code) : -1;
    return *exit_code_;
}

bool ChildProcess::Terminate() {
    if (process_ == nullptr || exit_code_) return false;
    if (WaitForSingleObject(H(process_), 0) == WAIT_OBJECT_0) return false;
    return TerminateProcess(H(process_), 0) != 0;
}

void ChildProcess::ClosePipe() {
    if (read_end_ != nullptr) {
        CloseHandle(H(read_end_));
        read_end_ = nullptr;
    }
}

std::string CurrentDirectory() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return ".";
    std::wstring wide(n, L'\0');
    const DWORD got = GetCurrentDirectoryW(n, wide.data());
    if (got == 0 || got >= n) return ".";
    return Narrow(wide.data(), got);
}

bool ChangeCurrentDirectory(const std::string& path) {
    return SetCurrentDirectoryW(Widen(path).c_str()) != 0;
}

}  // namespace avs::process
