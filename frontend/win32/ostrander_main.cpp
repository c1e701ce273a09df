// Ostrander on Windows: the main dialog run modally, and the same options as elsewhere for
// scripted runs (--convert-ts, --convert-asm, --output DIR, files to add).

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
// clang-format on

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "files/files.h"
#include "frontend/win32/win32_dialogs.h"
#include "frontend/win32/win32_text.h"

using namespace avs::frontend;
using namespace avs::frontend::win32;

namespace {

constexpr char kUsage[] =
    "Usage: Ostrander.exe [options] [files...]\n"
    "Converts media files into AVS media container files (.asm) or AVS transport streams\n"
    "(.avsts) with the programs Harrowgate, Quenby, Lindqvale and Korvel, which must be in\n"
    "the directory Ostrander is started from.\n\n"
    "Options:\n"
    "  -h, --help      Displays help on commandline options.\n"
    "  -v, --version   Displays version information.\n"
    "  --convert-ts    Convert the files to .avsts at once, then quit.\n"
    "  --convert-asm   Convert the files to .asm at once, then quit.\n"
    "  --output <dir>  Write the results into <dir> instead of beside each source.\n\n"
    "Arguments:\n"
    "  files           Media files to add to the list.\n";

// The full path of an existing regular file, or nothing.
std::optional<std::string> ExistingFile(const std::string& name) {
    const std::wstring wide = Widen(name);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return std::nullopt;
    full.resize(got);
    return Narrow(full);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = avs::files::Utf8Arguments(argc, argv);
    bool convert_ts = false;
    bool convert_asm = false;
    std::optional<std::string> output;
    std::vector<std::string> names;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help" || a == "-?" || a == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "-v" || a == "--version") {
            std::puts("Ostrander 3.3.01");
            return 0;
        }
        if (a == "--convert-ts") {
            convert_ts = true;
        } else if (a == "--convert-asm") {
            convert_asm = true;
        } else if (a == "--output") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "Missing value after '--output'.\n");
                return 1;
            }
            output = args[++i];
        } else if (a.rfind("--output=", 0) == 0) {
            output = a.substr(9);
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "Unknown option '%s'.\n", a.c_str());
            return 1;
        } else {
            names.push_back(a);
        }
    }
    if (convert_ts && convert_asm) {
        std::fprintf(stderr, "Ostrander: give only one of --convert-ts and --convert-asm\n");
        return 2;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser needs COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    Prompts prompts;
    prompts.headless = convert_ts || convert_asm;
    int code = 0;
    {
        COstranderDlg dialog(prompts);
        if (output) dialog.Settings().output_path = *output;
        std::vector<std::string> files;
        for (const std::string& name : names) {
            if (std::optional<std::string> full = ExistingFile(name)) {
                files.push_back(*full);
            } else {
                std::fprintf(stderr, "Ostrander: no such file: %s\n", name.c_str());
            }
        }
        if (convert_ts) dialog.ConvertOnStart(Target::kTransportStream);
        if (convert_asm) dialog.ConvertOnStart(Target::kContainer);
        dialog.PendFiles(files);
        if (dialog.DoModal() == -1) {
            std::fprintf(stderr, "Ostrander: the main dialog could not be created\n");
            code = 1;
        } else if (prompts.headless) {
            code = dialog.StartResult() == RunResult::kFinished ? 0 : 1;
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
