#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwchar>

#include "files/files.h"

namespace avs::files {

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string utf8(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// Win32 failures as errno, so LastErrorText speaks for both kinds of call.
void SetErrnoFromLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            errno = EACCES;
            break;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            errno = EEXIST;
            break;
        case ERROR_DISK_FULL:
            errno = ENOSPC;
            break;
        default:
            errno = EIO;
            break;
    }
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, const char* const* argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count != argc) {
        // The C run-time split the line differently; keep what it gave.
        if (wide) LocalFree(wide);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    args.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
    std::string binary_mode = mode;
    if (binary_mode.find('b') == std::string::npos) binary_mode += 'b';
    return _wfopen(Wide(path).c_str(), Wide(binary_mode).c_str());
}

int64_t Tell(std::FILE* stream) {
    return _ftelli64(stream);
}

bool Seek(std::FILE* stream, int64_t offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0;
}

std::string LastErrorText() {
    return std::strerror(errno);
}

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

namespace {

bool IdentifyHandle(HANDLE h, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.regular =
        GetFileType(h) == FILE_TYPE_DISK && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return true;
}

}  // namespace

bool IdentifyPath(const std::string& path, bool follow_links, FileIdentity& identity) {
    // Opening for no access at all reads the file's information without disturbing anyone.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h =
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = IdentifyHandle(h, identity);
    CloseHandle(h);
    return ok;
}

bool IdentifyStream(std::FILE* stream, FileIdentity& identity) {
    if (stream == nullptr) return false;
    const intptr_t h = _get_osfhandle(_fileno(stream));
    return h != -1 && IdentifyHandle(reinterpret_cast<HANDLE>(h), identity);
}

void SetBinaryMode(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

bool IsSpecialFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0;
    // Devices such as NUL and CON have no attributes to read but are not files either.
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool special = GetFileType(h) != FILE_TYPE_DISK;
    CloseHandle(h);
    return special;
}

std::FILE* CreateTemporaryBeside(const std::string& target, std::string& temp_path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = target + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(counter++);
        HANDLE h = CreateFileW(Wide(temp_path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            SetErrnoFromLastError();
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_RDWR);
        if (fd < 0) {
            CloseHandle(h);
            DeleteFileW(Wide(temp_path).c_str());
            return nullptr;
        }
        std::FILE* stream = _fdopen(fd, "w+b");
        if (!stream) {
            _close(fd);
            DeleteFileW(Wide(temp_path).c_str());
        }
        return stream;
    }
    errno = EEXIST;
    return nullptr;
}

bool Commit(std::FILE* stream) {
    if (std::fflush(stream) != 0) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) {
        SetErrnoFromLastError();
        return false;
    }
    return true;
}

bool RenameOver(const std::string& from, const std::string& to) {
    // rename() on Windows refuses an existing target; the move may replace it.
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    SetErrnoFromLastError();
    return false;
}

bool RemoveFile(const std::string& path) {
    if (DeleteFileW(Wide(path).c_str())) return true;
    SetErrnoFromLastError();
    return false;
}

bool MakeDirectory(const std::string& path) {
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string StateFilePath(const std::string& name) {
    return "c://" + name;
}

std::unique_ptr<PositionalFile> PositionalFile::Open(const std::string& path, std::string& error) {
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrnoFromLastError();
        error = std::strerror(errno);
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        SetErrnoFromLastError();
        error = std::strerror(errno);
        CloseHandle(h);
        return nullptr;
    }
    return std::unique_ptr<PositionalFile>(
        new PositionalFile(reinterpret_cast<intptr_t>(h), static_cast<uint64_t>(size.QuadPart)));
}

PositionalFile::~PositionalFile() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

size_t PositionalFile::ReadAt(uint64_t position, void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        // The position travels with the call, as with pread.
        OVERLAPPED at{};
        const uint64_t offset = position + done;
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), out + done, want, &got, &at) || got == 0)
            break;
        done += got;
    }
    return done;
}

}  // namespace avs::files
