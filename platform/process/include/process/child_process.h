#pragma once
// One child process started from a command-line text, with its standard output and
// standard error optionally caught in a pipe that is read without blocking. A POSIX body
// (posix_spawn, pipe2, poll) and a Win32 body (CreatePipe, CreateProcess, ReadFile on a
// PIPE_NOWAIT read end) stand behind it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace avs::process {

enum class OutputMode {
    kInherit,  // the child shares this process's standard handles
    kPipe,     // the child's standard output and standard error go into a pipe
};

enum class StartError {
    kNone,
    kPipe,           // the pipe could not be created
    kSpawn,          // the program could not be started (missing, not executable, empty line)
    kCloseWriteEnd,  // our copy of the pipe's write end could not be closed
};

enum class ReadStatus {
    kData,   // bytes were read
    kEmpty,  // nothing to read yet; the child may still write
    kEnd,    // the pipe is broken (every writer has gone) or failed
};

struct ReadResult {
    ReadStatus status;
    size_t bytes;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the command line in this process's current directory and environment. POSIX:
    // split with the Windows rules, the first argument searched in PATH when it has no '/',
    // the child leading a process group of its own, so Terminate also ends anything it
    // started. Windows: the line goes to CreateProcess as it is, with inheritable handles
    // and the console window hidden.
    StartError Start(std::string_view command_line, OutputMode mode);

    bool Started() const { return pid_ > 0; }
    int64_t Pid() const { return pid_; }
    // Why the start failed: errno on POSIX, GetLastError() on Windows.
    int StartErrno() const { return start_errno_; }

    // Reads what the pipe holds, up to the buffer's size, without blocking.
    ReadResult Read(std::span<char> buffer);

    // Blocks for at most timeout_ms or until the pipe has something to read or breaks. After
    // the pipe has broken (or without a pipe) it simply sleeps for the time-out, so a caller
    // that polls cannot spin.
    void WaitForOutput(int timeout_ms);

    // True once the child has ended; collects its status without blocking.
    bool HasExited();

    // Blocks until the child has ended; returns its exit code.
    int Wait();

    // Ends the child (and its process group) at once. Does nothing when it has already been
    // collected. Returns whether a signal was sent.
    bool Terminate();

    // Exit code once collected: the program's own code, or (POSIX) 128 + the signal that
    // ended it; a child ended by Terminate on Windows has code 0.
    std::optional<int> ExitCode() const { return exit_code_; }

    // Closes the pipe's read end. The child, if still running, is left alone.
    void ClosePipe();

  private:
    void Collect(int status);

    int64_t pid_ = -1;
#ifdef _WIN32
    void* process_ = nullptr;  // HANDLEs
    void* thread_ = nullptr;
    void* read_end_ = nullptr;
    void CloseChildHandles();
#else
    int read_fd_ = -1;
#endif
    bool pipe_broken_ = false;
    int start_errno_ = 0;
    std::optional<int> exit_code_;
};

}  // namespace avs::process
