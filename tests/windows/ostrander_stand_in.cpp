// One stand-in for the four children of Ostrander.exe, copied under each program's name:
// it appends its whole command line (as the system passed it, in UTF-8) to
// command_lines.txt beside itself, prints the progress the real program prints and leaves the files
// it must leave.
//   Harrowgate.exe SRC OUT.avs OPTIONS   -> OUT.avs, OUT.dat; "\r  n%" writes
//   Quenby.exe SRC OUT.mp3               -> OUT.mp3; "\rProgress:\t  n%" writes
//   Lindqvale.exe IN OUT.asm [-f]        -> appends a line to OUT.asm
//   Korvel.exe AVS MP3 DAT OUT.avsts     -> OUT.avsts
// A source whose name contains "hang" makes Harrowgate.exe print 5% and wait a minute.

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::wstring Wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::string ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Utf8(path);
}

std::string Here() {
    const std::string path = ModulePath();
    return path.substr(0, path.rfind('\\'));
}

std::string Program() {
    std::string name = ModulePath();
    name = name.substr(name.rfind('\\') + 1);
    return name.substr(0, name.rfind('.'));
}

void Write(const std::string& path, const std::string& text, const char* mode = "wb") {
    if (FILE* f = _wfopen(Wide(path).c_str(), Wide(mode).c_str())) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

void Progress(const char* format, int value) {
    std::printf(format, value);
    std::fflush(stdout);
    Sleep(60);  // each value a read of its own
}

}  // namespace

int main() {
    Write(Here() + "\\command_lines.txt", Utf8(GetCommandLineW()) + "\n", "ab");
    int argc = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    std::vector<const char*> pointers;
    for (const std::string& a : args) pointers.push_back(a.c_str());
    const char* const* argv = pointers.data();
    const std::string program = Program();
    if (program == "Harrowgate" && argc >= 3) {
        std::string out = argv[2];
        Write(out, std::string("avs of ") + argv[1] + "\n");
        const std::string base = out.size() > 4 ? out.substr(0, out.size() - 4) : out;
        Write(base + ".dat", "dat\n");
        if (std::strstr(argv[1], "hang") != nullptr) {
            Progress("\r%3d%%", 5);
            Sleep(60000);
        }
        for (int p : {0, 40, 99}) Progress("\r%3d%%", p);
        Progress("\r%3d%%\n", 100);
        return 0;
    }
    if (program == "Quenby" && argc >= 3) {
        Progress("\rProgress:\t  %d%%", 50);
        Write(argv[2], std::string("mp3 of ") + argv[1] + "\n");
        Progress("\rProgress:\t%d%%", 100);
        return 0;
    }
    if (program == "Lindqvale" && argc >= 3) {
        Write(argv[2], std::string("asm part ") + argv[1] + "\n", "ab");
        return 0;
    }
    if (program == "Korvel" && argc >= 5) {
        Write(argv[4], "avsts\n");
        return 0;
    }
    return 1;
}
