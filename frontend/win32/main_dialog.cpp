
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <cstdio>
#include <vector>

#include "frontend/win32/resource.h"
#include "frontend/win32/win32_dialogs.h"
#include "frontend/win32/win32_text.h"
#include "process/current_directory.h"

namespace avs::frontend::win32 {
namespace {

// The buttons a run disables; About (1008) and Exit (2) stay usable.
constexpr int kRunControls[] = {IDC_ADD_FILES, IDC_DELETE_FILES, IDC_CLEAR_FILES,
                                IDC_SETTINGS,  IDC_CONVERT_ASM,  IDC_CONVERT_TS};

constexpr UINT kStartMessage = WM_APP + 1;

// The names a file-open dialog with multiple selection returns: the folder and then each
// name, or one full path alone, zero-separated, ending with an empty name.
std::vector<std::wstring> SelectedPaths(const wchar_t* buffer) {
    std::vector<std::wstring> parts;
    for (const wchar_t* p = buffer; *p != L'\0'; p += wcslen(p) + 1) parts.emplace_back(p);
    if (parts.size() <= 1) return parts;
    std::vector<std::wstring> paths;
    std::wstring folder = parts[0];
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    for (size_t i = 1; i < parts.size(); ++i) paths.push_back(folder + parts[i]);
    return paths;
}

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// Room for the names of a selection before it asks for more (typed names get no more).
constexpr size_t kNamesChars = 67600;

// Grows the names buffer with the selection: the dialog copies the names into the buffer
// the structure points to when Open is pressed, and some (Wine's) copy them without
// checking that they fit.
UINT_PTR CALLBACK GrowNamesHook(HWND hook, UINT message, WPARAM /*wparam*/, LPARAM lparam) {
    if (message != WM_NOTIFY) return 0;
    const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lparam);
    if (notify->hdr.code != CDN_SELCHANGE) return 0;
    HWND dialog = GetParent(hook);
    wchar_t folder[MAX_PATH] = {};
    const LRESULT folder_chars =
        SendMessageW(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    const LRESULT spec_chars = SendMessageW(dialog, CDM_GETSPEC, 0, 0);
    if (folder_chars < 0 || spec_chars < 0) return 0;
    // The folder and its zero, then each name with its zero and one more zero: never more
    // than the folder and the names as the dialog shows them, quoted and blank-separated.
    const size_t needed = static_cast<size_t>(folder_chars) + static_cast<size_t>(spec_chars) + 2;
    OPENFILENAMEW* ofn = notify->lpOFN;
    if (needed <= ofn->nMaxFile) return 0;
    auto* names = reinterpret_cast<std::vector<wchar_t>*>(ofn->lCustData);
    names->assign(needed + needed / 2, L'\0');
    ofn->lpstrFile = names->data();
    ofn->nMaxFile = static_cast<DWORD>(names->size());
    return 0;
}

}  // namespace

void Prompts::ShowMessage(HWND owner, const std::string& text) const {
    if (headless) {
        std::fprintf(stderr, "Ostrander: %s\n", text.c_str());
        std::fflush(stderr);
        return;
    }
    MessageBoxW(owner, Widen(text).c_str(), L"Ostrander", MB_OK);
}

COstranderDlg::COstranderDlg(Prompts prompts)
    : prompts_(prompts), start_dir_(process::CurrentDirectory()), runner_(*this) {
    icon_ = static_cast<HICON>(
        LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 32, 32, 0));
    small_icon_ = static_cast<HICON>(
        LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0));
}

COstranderDlg::~COstranderDlg() {
    if (dialog_ != nullptr && !modal_) DestroyWindow(dialog_);
    if (icon_ != nullptr) DestroyIcon(icon_);
    if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

INT_PTR COstranderDlg::DoModal() {
    modal_ = true;
    return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_OSTRANDER_DIALOG), nullptr, Proc,
                           reinterpret_cast<LPARAM>(this));
}

HWND COstranderDlg::CreateModeless() {
    modal_ = false;
    return CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_OSTRANDER_DIALOG), nullptr, Proc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK COstranderDlg::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        auto* self = reinterpret_cast<COstranderDlg*>(lparam);
        self->dialog_ = dialog;
        self->OnInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<COstranderDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    return self->Handle(message, wparam, lparam);
}

INT_PTR COstranderDlg::Handle(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wparam)) {
                case IDC_ADD_FILES:
                    OnAddFiles();
                    return TRUE;
                case IDC_DELETE_FILES:
                    OnDeleteFiles();
                    return TRUE;
                case IDC_CLEAR_FILES:
                    OnClearFiles();
                    return TRUE;
                case IDC_SETTINGS:
                    OnSettings();
                    return TRUE;
                case IDC_ABOUT:
                    OnAbout();
                    return TRUE;
                case IDC_CONVERT_ASM:
                    OnConvertAsm();
                    return TRUE;
                case IDC_CONVERT_TS:
                    OnConvertTs();
                    return TRUE;
                case IDCANCEL:
                    OnCancel();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == IDM_ABOUTBOX) {
                OnAbout();
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (IsIconic(dialog_)) {
                PAINTSTRUCT paint;
                HDC dc = BeginPaint(dialog_, &paint);
                RECT client;
                GetClientRect(dialog_, &client);
                const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
                const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
                DrawIcon(dc, x, y, icon_);
                EndPaint(dialog_, &paint);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon_));
            return reinterpret_cast<INT_PTR>(icon_);
        case WM_SETCURSOR:
            if (wait_cursor_) {
                SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
                SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            return FALSE;
        case kStartMessage:
            if (start_target_) {
                start_result_ = Convert(*start_target_);
                if (!closing_) Close(IDOK);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

void COstranderDlg::OnInitDialog() {
    if (HMENU menu = GetSystemMenu(dialog_, FALSE)) {
        wchar_t entry[128] = {};
        if (LoadStringW(Instance(), IDS_ABOUTBOX, entry, 128) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, entry);
        }
    }
    SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
    if (!pending_files_.empty()) AddFiles(pending_files_);
    pending_files_.clear();
    if (start_target_) PostMessageW(dialog_, kStartMessage, 0, 0);
}

void COstranderDlg::AddFiles(const std::vector<std::string>& paths) {
    HWND list = GetDlgItem(dialog_, IDC_FILE_LIST);
    for (const std::string& path : paths) {
        const std::wstring wide = Widen(path);
        bool present = false;
        const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count && !present; ++i) {
            const int n = static_cast<int>(SendMessageW(list, LB_GETTEXTLEN, i, 0));
            std::wstring entry(static_cast<size_t>(n) + 1, L'\0');
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry.data()));
            entry.resize(static_cast<size_t>(n));
            present = entry == wide;
        }
        if (!present) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    SetPercentText("");
}

std::vector<std::string> COstranderDlg::Files() const {
    std::vector<std::string> files;
    auto* self = const_cast<COstranderDlg*>(this);
    for (int i = 0; i < self->FileCount(); ++i) files.push_back(self->FileAt(i));
    return files;
}

void COstranderDlg::OnAddFiles() {
    std::vector<wchar_t> names(kNamesChars, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog_;
    ofn.lpstrFilter =
        L"Media Files (.asf;.avi;.rmvb;.rm;.vob;.wmv)\0*.asf;*.avi;*.rmvb;*.rm;*.vob;*.wmv\0"
        L"All files(*.*)\0*.*\0";
    ofn.lpstrFile = names.data();
    ofn.nMaxFile = static_cast<DWORD>(names.size());
    ofn.lpstrDefExt = L"*.asf;*.avi;*.rmvb;*.rm;*.vob;*.wmv";
    // A dialog with a hook can be resized only when it is asked for.
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY |
                OFN_ENABLEHOOK | OFN_ENABLESIZING;
    ofn.lpfnHook = GrowNamesHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&names);
    if (!GetOpenFileNameW(&ofn)) return;  // cancelled, or typed names did not fit
    std::vector<std::string> paths;
    for (const std::wstring& path : SelectedPaths(ofn.lpstrFile)) paths.push_back(Narrow(path));
    AddFiles(paths);
}

void COstranderDlg::OnDeleteFiles() {
    HWND list = GetDlgItem(dialog_, IDC_FILE_LIST);
    const int count = static_cast<int>(SendMessageW(list, LB_GETSELCOUNT, 0, 0));
    if (count <= 0) return;
    std::vector<int> selected(static_cast<size_t>(count));
    SendMessageW(list, LB_GETSELITEMS, count, reinterpret_cast<LPARAM>(selected.data()));
    int deleted = 0;
    for (int index : selected) SendMessageW(list, LB_DELETESTRING, index - deleted++, 0);
}

void COstranderDlg::OnClearFiles() {
    SendDlgItemMessageW(dialog_, IDC_FILE_LIST, LB_RESETCONTENT, 0, 0);
}

void COstranderDlg::OnSettings() {
    CSettingDlg dialog(prompts_);
    dialog.Fields() = FieldsFromSettings(settings_);
    if (dialog.DoModal(dialog_) == IDOK) ApplyFields(dialog.Fields(), settings_);
}

void COstranderDlg::OnAbout() {
    ShowAboutBox(dialog_);
}

void COstranderDlg::OnCancel() {
    closing_ = true;
    runner_.TerminateRunning();
    Close(IDCANCEL);
}

void COstranderDlg::Close(INT_PTR result) {
    if (modal_) {
        EndDialog(dialog_, result);
    } else {
        ShowWindow(dialog_, SW_HIDE);
    }
}

RunResult COstranderDlg::Convert(Target target) {
    const RunResult result =
        RunConversion({target, settings_, start_dir_}, runner_, *this, closing_);
    if (result == RunResult::kFatal) {
        // The program ends: closing the dialog ends its modal loop and so the program.
        closing_ = true;
        Close(IDABORT);
    }
    return result;
}

// ConversionUi.

void COstranderDlg::SetProgress(int value) {
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS, value, 0);
}

void COstranderDlg::SetPercentText(const std::string& text) {
    // The first control with this identifier is the label, ahead of the banner.
    SetDlgItemTextW(dialog_, IDC_PERCENT, Widen(text).c_str());
}

void COstranderDlg::PumpEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The Alt key would start menu navigation in the middle of a run: it is dropped and
        // the pump gives way to the next poll.
        if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_SYSKEYDOWN ||
             msg.message == WM_SYSKEYUP) &&
            msg.wParam == VK_MENU) {
            break;
        }
        if (msg.message == WM_QUIT) {
            // Leave it for the modal loop, which ends on it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void COstranderDlg::ShowMessage(const std::string& text) {
    prompts_.ShowMessage(dialog_, text);
}

int COstranderDlg::FileCount() {
    return static_cast<int>(SendDlgItemMessageW(dialog_, IDC_FILE_LIST, LB_GETCOUNT, 0, 0));
}

std::string COstranderDlg::FileAt(int index) {
    HWND list = GetDlgItem(dialog_, IDC_FILE_LIST);
    const int n = static_cast<int>(SendMessageW(list, LB_GETTEXTLEN, index, 0));
    if (n < 0) return {};
    std::wstring entry(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(entry.data()));
    entry.resize(static_cast<size_t>(n));
    return Narrow(entry);
}

void COstranderDlg::RemoveFileAt(int index) {
    SendDlgItemMessageW(dialog_, IDC_FILE_LIST, LB_DELETESTRING, index, 0);
}

void COstranderDlg::SetRunControlsEnabled(bool enabled) {
    for (int id : kRunControls) EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
}

void COstranderDlg::SetProgressRange(int low, int high) {
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void COstranderDlg::SetWaitCursor(bool on) {
    wait_cursor_ = on;
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(on ? 32514 : 32512)));  // wait, arrow
}

}  // namespace avs::frontend::win32
