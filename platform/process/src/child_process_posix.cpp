#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "process/child_process.h"
#include "process/command_line.h"
#include "process/current_directory.h"

extern char** environ;

namespace avs::process {
namespace {

// Owns the attribute and file-action records of one posix_spawn call.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
};

}  // namespace

ChildProcess::~ChildProcess() {
    ClosePipe();
}

StartError ChildProcess::Start(std::string_view command_line, OutputMode mode) {
    ClosePipe();
    pid_ = -1;
    pipe_broken_ = false;
    start_errno_ = 0;
    exit_code_.reset();

    std::vector<std::string> args = SplitCommandLine(command_line);
    if (args.empty() || args[0].empty()) {
        start_errno_ = ENOENT;
        return StartError::kSpawn;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (mode == OutputMode::kPipe && pipe2(fds, O_CLOEXEC) != 0) {
        start_errno_ = errno;
        return StartError::kPipe;
    }

    SpawnSetup setup;
    // A process group of its own, so that terminating the child also ends helpers it runs.
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    posix_spawnattr_setflags(&setup.attr, flags);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&setup.attr, &defaults);
    if (mode == OutputMode::kPipe) {
        // dup2 clears close-on-exec on the copies; both originals close at exec.
        posix_spawn_file_actions_adddup2(&setup.actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&setup.actions, fds[1], STDERR_FILENO);
    }

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &setup.actions, &setup.attr, argv.data(), environ);
    if (rc != 0) {
        start_errno_ = rc;
        if (mode == OutputMode::kPipe) {
            close(fds[0]);
            close(fds[1]);
        }
        return StartError::kSpawn;
    }
    pid_ = pid;
    if (mode == OutputMode::kPipe) {
        read_fd_ = fds[0];
        fcntl(read_fd_, F_SETFL, fcntl(read_fd_, F_GETFL) | O_NONBLOCK);
        // Our copy of the write end must go, or the pipe would never break.
        if (close(fds[1]) != 0 && errno != EINTR) {
            start_errno_ = errno;
            return StartError::kCloseWriteEnd;
        }
    }
    return StartError::kNone;
}

ReadResult ChildProcess::Read(std::span<char> buffer) {
    if (read_fd_ < 0 || pipe_broken_) return {ReadStatus::kEnd, 0};
    for (;;) {
        const ssize_t n = read(read_fd_, buffer.data(), buffer.size());
        if (n > 0) return {ReadStatus::kData, static_cast<size_t>(n)};
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {ReadStatus::kEmpty, 0};
        pipe_broken_ = true;
        return {ReadStatus::kEnd, 0};
    }
}

void ChildProcess::WaitForOutput(int timeout_ms) {
    if (read_fd_ < 0 || pipe_broken_) {
        poll(nullptr, 0, timeout_ms);
        return;
    }
    pollfd p{read_fd_, POLLIN, 0};
    poll(&p, 1, timeout_ms);
}

void ChildProcess::Collect(int status) {
    if (WIFEXITED(status)) {
        exit_code_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit_code_ = 128 + WTERMSIG(status);
    } else {
        exit_code_ = -1;
    }
}

bool ChildProcess::HasExited() {
    if (pid_ <= 0 || exit_code_) return true;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r == static_cast<pid_t>(pid_)) {
        Collect(status);
    } else {
        exit_code_ = -1;  // someone else collected it; it has ended all the same
    }
    return true;
}

int ChildProcess::Wait() {
    if (pid_ <= 0) return -1;
    if (exit_code_) return *exit_code_;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pid_), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r == static_cast<pid_t>(pid_)) {
        Collect(status);
    } else {
        exit_code_ = -1;
    }
    return *exit_code_;
}

bool ChildProcess::Terminate() {
    if (pid_ <= 0 || exit_code_) return false;
    // Not yet collected, so the id still names our child (a zombie at worst).
    if (kill(-static_cast<pid_t>(pid_), SIGKILL) == 0) return true;
    return kill(static_cast<pid_t>(pid_), SIGKILL) == 0;
}

void ChildProcess::ClosePipe() {
    if (read_fd_ >= 0) {
        close(read_fd_);
        read_fd_ = -1;
    }
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

bool ChangeCurrentDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

}  // namespace avs::process
