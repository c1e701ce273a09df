#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "files/files.h"

namespace avs::files {

std::vector<std::string> Utf8Arguments(int argc, const char* const* argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

int64_t Tell(std::FILE* stream) {
    return static_cast<int64_t>(ftello(stream));
}

bool Seek(std::FILE* stream, int64_t offset, int whence) {
    return fseeko(stream, static_cast<off_t>(offset), whence) == 0;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    id.regular = S_ISREG(st.st_mode);
    return id;
}

}  // namespace

bool IdentifyPath(const std::string& path, bool follow_links, FileIdentity& identity) {
    struct stat st {};
    if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return false;
    identity = IdentityOf(st);
    return true;
}

bool IdentifyStream(std::FILE* stream, FileIdentity& identity) {
    struct stat st {};
    if (stream == nullptr || ::fstat(::fileno(stream), &st) != 0) return false;
    identity = IdentityOf(st);
    return true;
}

void SetBinaryMode(std::FILE*) {}

bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::FILE* CreateTemporaryBeside(const std::string& target, std::string& temp_path) {
    temp_path = target + ".tmp-XXXXXX";
    const int fd = mkstemp(temp_path.data());
    if (fd < 0) return nullptr;
    // mkstemp makes the file private; give it what any new file of ours gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    std::FILE* stream = fdopen(fd, "wb");
    if (!stream) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temp_path.c_str());
        errno = saved;
    }
    return stream;
}

bool Commit(std::FILE* stream) {
    return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StateFilePath(const std::string& name) {
    const auto from_env = [](const char* variable) {
        const char* v = std::getenv(variable);
        return v && *v ? std::string(v) : std::string();
    };
    std::string state = from_env("XDG_STATE_HOME");
    if (state.empty()) {
        const std::string home = from_env("HOME");
        if (home.empty()) return name;
        state = home + "/.local/state";
    }
    return state + "/avs-toolset/" + name;
}

std::unique_ptr<PositionalFile> PositionalFile::Open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PositionalFile>(
        new PositionalFile(fd, static_cast<uint64_t>(st.st_size)));
}

PositionalFile::~PositionalFile() {
    ::close(static_cast<int>(handle_));
}

size_t PositionalFile::ReadAt(uint64_t position, void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(static_cast<int>(handle_), out + done, n - done,
                                    static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

}  // namespace avs::files
