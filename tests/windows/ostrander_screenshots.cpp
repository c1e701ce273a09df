// Shows each of Ostrander's Windows dialogs and saves what the screen shows of it as a
// 24-bit BMP: ostrander_screenshots.exe OUT_DIR (main.bmp, settings.bmp, about.bmp).

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/win32/win32_dialogs.h"

using namespace avs::frontend;
using namespace avs::frontend::win32;

namespace {

void Pump(int ms) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(ms);
    while (GetTickCount() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

bool Save(HWND window, const std::string& path) {
    SetWindowPos(window, HWND_TOPMOST, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(window);
    Pump(1500);
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    bool ok = false;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, size, 1, f) == 1;
        ok = std::fclose(f) == 0 && ok;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("%s: %dx%d\n", path.c_str(), w, h);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ostrander_screenshots.exe OUT_DIR\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    Prompts prompts{true};
    bool ok = true;
    {
        COstranderDlg main(prompts);
        HWND d = main.CreateModeless();
        main.AddFiles({"D:\\视频\\片头.avi", "E:\\v\\clip.avi", "E:\\v\\my clip.wmv"});
        main.SetProgress(42);
        main.SetPercentText("42%");
        ok = d != nullptr && Save(d, dir + "\\main.bmp") && ok;
    }
    {
        CSettingDlg settings(prompts);
        settings.Fields() = FieldsFromSettings(ConversionSettings{});
        HWND d = settings.CreateModeless(nullptr);
        ok = d != nullptr && Save(d, dir + "\\settings.bmp") && ok;
        DestroyWindow(d);
    }
    {
        HWND d = CreateAboutBoxModeless(nullptr);
        ok = d != nullptr && Save(d, dir + "\\about.bmp") && ok;
        DestroyWindow(d);
    }
    return ok ? 0 : 1;
}
