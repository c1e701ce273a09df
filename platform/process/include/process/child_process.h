#pragma once
// One child process started from a command-line text, with its standard output and
// standard error optionally caught in a pipe that is read without blocking.

#include <sys/types.h>

#include <optional>
#include <span>
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

    // Splits the command line with the Windows rules and starts its first argument (searched
    // in PATH when it has no '/') in this process's current directory and environment. The
    // child leads a process group of its own, so Terminate also ends anything it started.
    StartError Start(std::string_view command_line, OutputMode mode);

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    int start_errno() const { return start_errno_; }

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

    // Exit code once collected: the program's own code, or 128 + the signal that ended it.
    std::optional<int> exit_code() const { return exit_code_; }

    // Closes the pipe's read end. The child, if still running, is left alone.
    void ClosePipe();

  private:
    void Collect(int status);

    pid_t pid_ = -1;
    int read_fd_ = -1;
    bool pipe_broken_ = false;
    int start_errno_ = 0;
    std::optional<int> exit_code_;
};

}  // namespace avs::process
