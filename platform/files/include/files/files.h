// Files by UTF-8 path, the same on every platform. Paths are UTF-8 inside the tool set and
// become wide paths only at the Win32 boundary; every stream is binary (no CRLF
// translation) and every position is 64 bits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace avs::files {

// The program's arguments as UTF-8 (on Windows from the wide command line, so names
// outside the ANSI code page survive).
std::vector<std::string> Utf8Arguments(int argc, const char* const* argv);

// A UTF-8 path as a filesystem path (a plain std::string would be read in the ANSI code
// page on Windows).
inline std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

// fopen with a UTF-8 path; the stream is always binary. Null with errno set on failure.
std::FILE* OpenStream(const std::string& path, const char* mode);

// 64-bit stream positions; Tell gives -1 on failure, Seek false.
int64_t Tell(std::FILE* stream);
bool Seek(std::FILE* stream, int64_t offset, int whence);

// Reads one byte without taking the stream's lock (the audio frame search reads byte by
// byte).
inline int GetByte(std::FILE* stream) {
#ifdef _WIN32
    return _getc_nolock(stream);
#else
    return getc_unlocked(stream);
#endif
}

// True when the stream is a terminal (a person is watching it).
bool IsTerminal(std::FILE* stream);

// The text of the last failed C library call (errno).
std::string LastErrorText();

// True when the path names something that exists and is not a regular file (a FIFO, a
// device), which must be written in place rather than replaced.
bool IsSpecialFile(const std::string& path);

// Creates a new, empty file beside `target` under a unique name, with the permissions a
// new file gets, open for binary writing; `temp_path` receives its name. Null on failure.
std::FILE* CreateTemporaryBeside(const std::string& target, std::string& temp_path);

// Flushes the stream and makes its data durable on disk.
bool Commit(std::FILE* stream);

// Renames `from` to `to`, replacing `to` if it exists.
bool RenameOver(const std::string& from, const std::string& to);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// Creates one directory (not its parents); true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// Where the tool set keeps a state file of its own (the bit-rate log): on Windows the root
// of drive C, where the tool set's users have always found it; elsewhere the user's state
// folder ($XDG_STATE_HOME, else ~/.local/state) under avs-toolset/, or the current folder
// when there is no home. The folders may not exist yet.
std::string StateFilePath(const std::string& name);

// Which file a name or stream stands for: two with equal volume and index are one file.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool regular = false;  // a plain file, not a directory, device or pipe
};
// Of the file `path` names; with `follow_links` false, of a final symbolic link itself.
// False when nothing can be found under the name.
bool IdentifyPath(const std::string& path, bool follow_links, FileIdentity& identity);
// Of the file an open stream writes or reads.
bool IdentifyStream(std::FILE* stream, FileIdentity& identity);
inline bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

// Makes a standard stream pass bytes unchanged (Windows's text mode would turn each LF into
// CR LF, so a CR LF written by the program would reach the reader as CR CR LF).
void SetBinaryMode(std::FILE* stream);

// A read-only file read at explicit positions, so readers keep their own position and
// threads do not share one.
class PositionalFile {
  public:
    // Null when the file cannot be opened; `error` then says why.
    static std::unique_ptr<PositionalFile> Open(const std::string& path, std::string& error);
    ~PositionalFile();
    PositionalFile(const PositionalFile&) = delete;
    PositionalFile& operator=(const PositionalFile&) = delete;

    uint64_t Size() const { return size_; }
    // Reads up to n bytes at `position`; fewer only at the end of the file or on an error.
    size_t ReadAt(uint64_t position, void* buffer, size_t n);

  private:
    PositionalFile(intptr_t handle, uint64_t size) : handle_(handle), size_(size) {}
    intptr_t handle_;
    uint64_t size_;
};

}  // namespace avs::files
