// The Windows dialogs from Ostrander's resource script: every control's identifier, class,
// text, place and size in dialog units, state and style; the settings exchange; the list.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "frontend/win32/resource.h"
#include "frontend/win32/win32_dialogs.h"
#include "frontend/win32/win32_text.h"

namespace avs::frontend::win32 {
namespace {

struct Expected {
    int id;
    const char* window_class;  // as GetClassName gives it, case-insensitive
    const char* text;
    int x, y, w, h;  // dialog units
    bool visible;
    bool enabled;
};

std::string ClassOf(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    std::string s = Narrow(name);
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> out;
    for (HWND w = GetWindow(dialog, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        out.push_back(w);
    return out;
}

// Compares the controls in template (creation) order with the table.
void ExpectControls(HWND dialog, const std::vector<Expected>& table) {
    const std::vector<HWND> children = Children(dialog);
    ASSERT_EQ(children.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const Expected& e = table[i];
        HWND w = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (" + e.text + ")");
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(w))), e.id);
        EXPECT_EQ(ClassOf(w), e.window_class);
        const LONG type = GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK;
        const bool picture =
            std::string(e.window_class) == "static" && (type == SS_ICON || type == SS_BITMAP);
        // A picture's text names its resource; a drop-down list shows its selection.
        if (std::string(e.window_class) != "combobox" && !picture) {
            EXPECT_EQ(Narrow(WindowText(w)), e.text);
        }
        // Place and size are mapped from dialog units each on its own, as the dialog
        // manager does.
        RECT want{e.x, e.y, e.w, e.h};
        MapDialogRect(dialog, &want);
        RECT got;
        GetWindowRect(w, &got);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        // A picture takes its image's size, and a drop-down list its edit's height.
        if (std::string(e.window_class) != "combobox" && !picture) {
            EXPECT_EQ(got.right - got.left, want.right);
            EXPECT_EQ(got.bottom - got.top, want.bottom);
        }
        EXPECT_EQ((GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0, e.visible);
        EXPECT_EQ(IsWindowEnabled(w) != FALSE, e.enabled);
    }
}

std::string FontFace(HWND dialog) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    GetObjectW(font, sizeof lf, &lf);
    return Narrow(lf.lfFaceName);
}

void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

TEST(OstranderDialogs, MainDialogHasTheTemplatesControls) {
    Prompts prompts{true};
    COstranderDlg main(prompts);
    HWND d = main.CreateModeless();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Narrow(WindowText(d)), "Ostrander 3.3.01");
    EXPECT_EQ(FontFace(d), "宋体");
    const LONG style = GetWindowLongW(d, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_MODALFRAME);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongW(d, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    RECT client{0, 0, 320, 268};
    MapDialogRect(d, &client);
    RECT got;
    GetClientRect(d, &got);
    EXPECT_EQ(got.right, client.right);
    EXPECT_EQ(got.bottom, client.bottom);
    ExpectControls(d, {
                          {1000, "button", "添加", 14, 64, 48, 13, true, true},
                          {1006, "button", "删除", 75, 64, 48, 13, true, true},
                          {1007, "button", "清空", 136, 64, 48, 13, true, true},
                          {1001, "button", "参数设置", 197, 64, 48, 13, true, true},
                          {1008, "button", "关于", 258, 64, 48, 13, true, true},
                          {1003, "button", "转视频", 14, 248, 48, 13, false, false},
                          {1004, "button", "转音频", 75, 248, 48, 13, false, false},
                          {1005, "button", "转码ASM", 199, 248, 48, 13, true, true},
                          {2, "button", "退出", 258, 248, 48, 13, true, true},
                          {1002, "listbox", "", 14, 85, 292, 136, true, true},
                          {1021, "msctls_progress32", "", 15, 231, 260, 7, true, true},
                          {-1, "static", "", 278, 230, 21, 12, true, true},
                          {-1, "static", "", 10, 10, 300, 47, true, true},
                          {1009, "button", "转码TS", 140, 248, 48, 13, true, true},
                      });
    HWND list = GetDlgItem(d, 1002);
    const LONG list_style = GetWindowLongW(list, GWL_STYLE);
    for (LONG bit : {LBS_SORT, LBS_MULTIPLESEL, LBS_NOINTEGRALHEIGHT}) {
        EXPECT_EQ(list_style & bit, bit);
    }
    // Both scroll bars come when the entries need them.
    for (int i = 0; i < 40; ++i) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(i).c_str()));
    }
    SendMessageW(list, LB_SETHORIZONTALEXTENT, 4000, 0);
    EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL);
    EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & WS_HSCROLL);
    // The first control with identifier -1 is the percentage label, right-aligned.
    EXPECT_EQ(GetWindowLongW(GetDlgItem(d, -1), GWL_STYLE) & SS_TYPEMASK, SS_RIGHT);
    // No default button.
    for (HWND w : Children(d)) {
        if (ClassOf(w) == "button") {
            EXPECT_NE(GetWindowLongW(w, GWL_STYLE) & 0xF, BS_DEFPUSHBUTTON);
        }
    }
    // The system menu carries the About entry under command 16.
    HMENU menu = GetSystemMenu(d, FALSE);
    wchar_t entry[64] = {};
    EXPECT_GT(GetMenuStringW(menu, IDM_ABOUTBOX, entry, 64, MF_BYCOMMAND), 0);
    EXPECT_EQ(Narrow(entry), "关于 Ostrander(&A)...");
    EXPECT_NE(SendMessageW(d, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(d, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST(OstranderDialogs, ListKeepsOneSortedEntryPerExactPathAndDeletesBySelection) {
    Prompts prompts{true};
    COstranderDlg main(prompts);
    HWND d = main.CreateModeless();
    ASSERT_NE(d, nullptr);
    SetDlgItemTextW(d, -1, L"50%");
    main.AddFiles({"E:\\v\\c.avi", "E:\\v\\a.avi", "E:\\v\\c.avi"});
    main.AddFiles({"E:\\v\\b.avi", "E:\\v\\a.avi", "E:\\v\\A.avi"});
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(d, -1))), "");  // adding clears the label
    std::vector<std::string> files = main.Files();
    ASSERT_EQ(files.size(), 4u);  // the other spelling of a.avi is an entry of its own
    EXPECT_EQ(files[2], "E:\\v\\b.avi");
    EXPECT_EQ(files[3], "E:\\v\\c.avi");

    main.OnClearFiles();
    EXPECT_EQ(main.FileCount(), 0);
    main.AddFiles({"E:\\0", "E:\\1", "E:\\2", "E:\\3", "E:\\4", "E:\\5"});
    HWND list = GetDlgItem(d, 1002);
    for (int i : {1, 3, 4}) SendMessageW(list, LB_SETSEL, TRUE, i);
    Click(d, 1006);
    EXPECT_EQ(main.Files(), (std::vector<std::string>{"E:\\0", "E:\\2", "E:\\5"}));

    // An empty list: the message, nothing else.
    main.OnClearFiles();
    EXPECT_EQ(main.OnConvertTs(), RunResult::kEmptyList);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, 1000)));
}

TEST(OstranderDialogs, SettingsDialogHasTheTemplatesControls) {
    Prompts prompts{true};
    CSettingDlg settings(prompts);
    settings.Fields() = FieldsFromSettings(ConversionSettings{});
    HWND d = settings.CreateModeless(nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Narrow(WindowText(d)), "参数设置");
    EXPECT_EQ(FontFace(d), "宋体");
    RECT client{0, 0, 376, 241};
    MapDialogRect(d, &client);
    RECT got;
    GetClientRect(d, &got);
    EXPECT_EQ(got.right, client.right);
    EXPECT_EQ(got.bottom, client.bottom);
    ExpectControls(d, {
                          {-1, "button", "音频", 7, 5, 362, 32, true, true},
                          {-1, "static", "BitRate", 15, 20, 42, 8, true, true},
                          {1010, "edit", "64", 60, 18, 50, 12, true, true},
                          {-1, "static", "Sample Rate", 125, 20, 45, 8, false, true},
                          {1013, "edit", "16000", 175, 18, 50, 12, false, true},
                          {-1, "static", "Channel", 245, 20, 40, 8, false, true},
                          {1014, "edit", "3", 290, 18, 50, 12, false, true},
                          {-1, "button", "视频", 7, 42, 362, 132, true, true},
                          {-1, "static", "Width", 15, 57, 42, 8, true, true},
                          {1011, "edit", "0", 60, 55, 50, 12, true, true},
                          {-1, "static", "Height", 128, 57, 48, 8, true, true},
                          {1012, "edit", "0", 178, 55, 50, 12, true, true},
                          {-1, "static", "Frame rate", 245, 57, 45, 8, true, true},
                          {1020, "edit", "24", 300, 55, 55, 12, true, true},
                          {-1, "static", "GOPLength", 15, 75, 42, 8, true, true},
                          {1038, "edit", "18", 60, 73, 50, 12, true, true},
                          {-1, "static", "BitRate", 128, 75, 48, 8, true, true},
                          {1044, "edit", "0", 178, 73, 50, 12, true, false},
                          {-1, "static", "SearchRange", 245, 75, 50, 8, true, true},
                          {1046, "edit", "32", 300, 73, 55, 12, true, true},
                          {-1, "static", "QP", 15, 93, 42, 8, true, true},
                          {1039, "edit", "24", 60, 91, 50, 12, true, true},
                          {-1, "static", "BFrameNum", 128, 93, 48, 8, true, true},
                          {1040, "edit", "2", 178, 91, 50, 12, true, true},
                          {-1, "static", "ThreadNum", 245, 93, 50, 8, true, true},
                          {1048, "edit", "1", 300, 91, 55, 12, true, true},
                          {-1, "static", "ChromaFormat", 15, 113, 55, 8, true, true},
                          {1018, "button", "4:2:0", 75, 111, 42, 12, true, true},
                          {1035, "button", "4:2:2", 120, 111, 42, 12, true, true},
                          {-1, "static", "Progressive Sequence", 168, 113, 82, 8, true, true},
                          {1036, "button", "progressive", 250, 111, 60, 12, true, true},
                          {1037, "button", "interlace", 312, 111, 50, 12, true, true},
                          {-1, "static", "Flag of rate control", 15, 133, 75, 8, true, true},
                          {1022, "combobox", "", 95, 131, 50, 14, true, true},
                          {1019, "button", "CloseGOP", 15, 153, 55, 12, true, true},
                          {1045, "button", "RDO", 75, 153, 40, 12, true, true},
                          {1047, "button", "Insert sequence header", 120, 153, 110, 12, true, true},
                          {1049, "button", "LoopFilter", 235, 153, 60, 12, false, true},
                          {-1, "button", "输出", 7, 178, 362, 32, true, true},
                          {-1, "static", "Output Path", 15, 193, 45, 8, true, true},
                          {1050, "edit", "", 60, 191, 238, 12, true, true},
                          {1051, "button", "Browse", 305, 190, 55, 14, true, true},
                          {1, "button", "确定", 250, 218, 55, 14, true, true},
                          {2, "button", "取消", 312, 218, 55, 14, true, true},
                      });
    // The combo box: a drop-down list, unsorted, "off" then "on" from the template's data.
    HWND combo = GetDlgItem(d, 1022);
    EXPECT_EQ(GetWindowLongW(combo, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_FALSE(GetWindowLongW(combo, GWL_STYLE) & CBS_SORT);
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
    wchar_t item[16] = {};
    SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(Narrow(item), "off");
    SendMessageW(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
    EXPECT_EQ(Narrow(item), "on");
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(IsDlgButtonChecked(d, 1018), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 1036), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 1019), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 1045), BST_UNCHECKED);
    DestroyWindow(d);
}

TEST(OstranderDialogs, SettingsExchangeConvertsBothWays) {
    Prompts prompts{true};
    ConversionSettings s;
    s.rate_control = 3;  // on before: the dialog opens with it off all the same
    s.chroma_format = 2;
    s.progressive_sequence = 0;
    s.output_path = "D:\\out";
    CSettingDlg settings(prompts);
    settings.Fields() = FieldsFromSettings(s);
    HWND d = settings.CreateModeless(nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(IsDlgButtonChecked(d, 1035), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 1037), BST_CHECKED);
    EXPECT_EQ(Narrow(WindowText(GetDlgItem(d, 1050))), "D:\\out");
    EXPECT_EQ(SendDlgItemMessageW(d, 1022, CB_GETCURSEL, 0, 0), 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 1044)));

    // OK without touching the combo box: rate control becomes off.
    ASSERT_TRUE(settings.UpdateData(true));
    ApplyFields(settings.Fields(), s);
    EXPECT_EQ(s.rate_control, 0);
    EXPECT_EQ(s.chroma_format, 2);
    EXPECT_EQ(s.progressive_sequence, 0);

    // "on" enables the bit rate and gives 3; the values typed come back.
    SendDlgItemMessageW(d, 1022, CB_SETCURSEL, 1, 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(1022, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(d, 1022)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, 1044)));
    SetDlgItemTextW(d, 1044, L"800");
    SetDlgItemTextW(d, 1011, L"720");
    SetDlgItemTextW(d, 1020, L"29.97");
    CheckDlgButton(d, 1018, BST_CHECKED);
    CheckDlgButton(d, 1035, BST_UNCHECKED);
    ASSERT_TRUE(settings.UpdateData(true));
    ApplyFields(settings.Fields(), s);
    EXPECT_EQ(s.rate_control, 3);
    EXPECT_EQ(s.video_bitrate, 800);
    EXPECT_EQ(s.width, 720);
    EXPECT_EQ(s.height, 0);
    EXPECT_FLOAT_EQ(s.frame_rate, 29.97f);
    EXPECT_EQ(s.chroma_format, 1);

    // Text in an integer field stops the exchange; the settings stay as they were.
    const ConversionSettings before = s;
    SetDlgItemTextW(d, 1038, L"12x");
    EXPECT_FALSE(settings.UpdateData(true));
    SetDlgItemTextW(d, 1038, L"12");
    SetDlgItemTextW(d, 1020, L"fast");
    EXPECT_FALSE(settings.UpdateData(true));
    EXPECT_EQ(s, before);
    DestroyWindow(d);
}

TEST(OstranderDialogs, AboutBoxHasTheTemplatesControls) {
    HWND d = CreateAboutBoxModeless(nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Narrow(WindowText(d)), "关于 Ostrander");
    EXPECT_EQ(FontFace(d), "宋体");
    RECT client{0, 0, 209, 62};
    MapDialogRect(d, &client);
    RECT got;
    GetClientRect(d, &got);
    EXPECT_EQ(got.right, client.right);
    EXPECT_EQ(got.bottom, client.bottom);
    ExpectControls(d, {
                          {-1, "static", "", 11, 17, 21, 20, true, true},
                          {-1, "static", "Ostrander 3.3.01 版", 40, 14, 119, 8, true, true},
                          {1, "button", "确定", 152, 41, 50, 14, true, true},
                      });
    EXPECT_EQ(GetWindowLongW(Children(d)[0], GWL_STYLE) & SS_TYPEMASK, SS_ICON);
    EXPECT_NE(SendMessageW(Children(d)[0], STM_GETICON, 0, 0), 0);
    DestroyWindow(d);
}

// Exit while the video encoder runs: the pump inside the piped stage dispatches the timer
// that presses Exit, the encoder is terminated at once, the audio stage never starts and the
// source stays in the list.
COstranderDlg* g_exiting = nullptr;
void CALLBACK PressExit(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (g_exiting != nullptr) g_exiting->OnCancel();
}

TEST(OstranderDialogs, ExitDuringTheVideoStageEndsTheEncoderAndTheRun) {
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string dir =
        std::string(temp) + "ostrander exit " + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    const std::string stand_in = std::string(AVS_TESTS_DIR_WIN) + "\\ostrander_stand_in.exe";
    for (const char* program : {"Harrowgate", "Quenby", "Lindqvale", "Korvel"}) {
        ASSERT_TRUE(CopyFileA(stand_in.c_str(), (dir + "\\" + program + ".exe").c_str(), FALSE));
    }
    const std::string source = dir + "\\hang.avi";
    CloseHandle(CreateFileA(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    char old_dir[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old_dir, old_dir);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));  // the start directory
    {
        Prompts prompts{true};
        COstranderDlg main(prompts);
        HWND d = main.CreateModeless();
        ASSERT_NE(d, nullptr);
        main.AddFiles({source});
        g_exiting = &main;
        SetTimer(nullptr, 0, 1500, PressExit);
        const DWORD t0 = GetTickCount();
        EXPECT_EQ(main.OnConvertTs(), RunResult::kStopped);
        EXPECT_LT(GetTickCount() - t0, 20000u);  // the stand-in would wait a minute
        g_exiting = nullptr;
        EXPECT_TRUE(main.Closing());
        EXPECT_EQ(main.Files(), std::vector<std::string>{source});
        EXPECT_EQ(Narrow(WindowText(GetDlgItem(d, -1))), "95%");
        // Buttons stay disabled: the dialog is closing.
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 1009)));
    }
    SetCurrentDirectoryA(old_dir);
    // Only the encoder ran; its partial files stay.
    std::string log;
    if (FILE* f = std::fopen((dir + "\\command_lines.txt").c_str(), "rb")) {
        char buffer[4096];
        log.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("Harrowgate.exe"), std::string::npos);
    EXPECT_NE(GetFileAttributesA((source + ".avs").c_str()), INVALID_FILE_ATTRIBUTES);
    for (const char* f : {"Harrowgate.exe", "Quenby.exe", "Lindqvale.exe", "Korvel.exe",
                          "command_lines.txt", "hang.avi", "hang.avi.avs", "hang.avi.dat"}) {
        // The terminated encoder may still hold its files for a moment.
        for (int i = 0; i < 50 && !DeleteFileA((dir + "\\" + f).c_str()) &&
                        GetLastError() != ERROR_FILE_NOT_FOUND;
             ++i) {
            Sleep(100);
        }
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace avs::frontend::win32

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
