
// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/win32/resource.h"
#include "frontend/win32/win32_dialogs.h"
#include "frontend/win32/win32_text.h"

namespace avs::frontend::win32 {
namespace {

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// Sends the dialog's initial control data (the combo box's items) from its resource of
// type 240: records of control id, message, byte count and bytes, ending with id 0.
void ExecuteDlgInit(HWND dialog, int template_id) {
    HRSRC found =
        FindResourceW(Instance(), MAKEINTRESOURCEW(template_id), MAKEINTRESOURCEW(RT_DLGINIT_TYPE));
    if (found == nullptr) return;
    HGLOBAL loaded = LoadResource(Instance(), found);
    const auto* p = static_cast<const BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(Instance(), found);
    if (p == nullptr) return;
    const BYTE* end = p + size;
    while (end - p >= 2) {
        WORD id;
        std::memcpy(&id, p, 2);
        if (id == 0 || end - p < 8) break;
        WORD message;
        DWORD length;
        std::memcpy(&message, p + 2, 2);
        std::memcpy(&length, p + 4, 4);
        p += 8;
        if (static_cast<DWORD>(end - p) < length) break;
        if (message == DLGINIT_ADDSTRING) {
            std::string text(reinterpret_cast<const char*>(p), length);
            text.resize(std::strlen(text.c_str()));
            SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(Widen(text).c_str()));
        }
        p += length;
    }
}

std::string ItemText(HWND dialog, int id) {
    return Narrow(WindowText(GetDlgItem(dialog, id)));
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextW(dialog, id, Widen(text).c_str());
}

void SetCheck(HWND dialog, int id, bool on) {
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// The radio of a pair that is checked: 0, 1, or -1 for none.
int RadioIndex(HWND dialog, int first, int second) {
    if (Checked(dialog, first)) return 0;
    if (Checked(dialog, second)) return 1;
    return -1;
}

void SetRadioIndex(HWND dialog, int first, int second, int index) {
    SetCheck(dialog, first, index == 0);
    SetCheck(dialog, second, index == 1);
}

std::string Trimmed(const std::string& text) {
    const size_t a = text.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    const size_t b = text.find_last_not_of(" \t");
    return text.substr(a, b - a + 1);
}

}  // namespace

INT_PTR CSettingDlg::DoModal(HWND owner) {
    modal_ = true;
    return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_SETTING), owner, Proc,
                           reinterpret_cast<LPARAM>(this));
}

HWND CSettingDlg::CreateModeless(HWND owner) {
    modal_ = false;
    return CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_SETTING), owner, Proc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSettingDlg::Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        reinterpret_cast<CSettingDlg*>(lparam)->OnInitDialog(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<CSettingDlg*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr || message != WM_COMMAND) return FALSE;
    const int id = LOWORD(wparam);
    const int code = HIWORD(wparam);
    if (id == IDC_RATE_CONTROL && code == CBN_SELCHANGE) {
        self->OnRateControlChange();
        return TRUE;
    }
    if (code != BN_CLICKED) return FALSE;
    switch (id) {
        case IDOK:
            self->OnOK();
            return TRUE;
        case IDCANCEL:
            if (self->modal_) EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_BROWSE:
            self->OnBrowse();
            return TRUE;
        default:
            return FALSE;
    }
}

void CSettingDlg::OnInitDialog(HWND dialog) {
    dialog_ = dialog;
    ExecuteDlgInit(dialog_, IDD_SETTING);
    UpdateData(false);
    // Rate control always opens off, with the bit rate disabled.
    SendDlgItemMessageW(dialog_, IDC_RATE_CONTROL, CB_SETCURSEL, 0, 0);
    OnRateControlChange();
}

bool CSettingDlg::ReadInt(int id, int& value) {
    const std::string text = Trimmed(ItemText(dialog_, id));
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        prompts_.ShowMessage(dialog_, "Please enter an integer.");
        HWND edit = GetDlgItem(dialog_, id);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool CSettingDlg::ReadFloat(int id, float& value) {
    const std::string text = Trimmed(ItemText(dialog_, id));
    char* end = nullptr;
    const float parsed = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0') {
        prompts_.ShowMessage(dialog_, "Please enter a number.");
        HWND edit = GetDlgItem(dialog_, id);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return false;
    }
    value = parsed;
    return true;
}

bool CSettingDlg::UpdateData(bool save) {
    SettingFields& f = fields_;
    HWND d = dialog_;
    if (!save) {
        SetDlgItemInt(d, IDC_AUDIO_BITRATE, static_cast<UINT>(f.audio_bitrate), TRUE);
        SetDlgItemInt(d, IDC_SAMPLE_RATE, static_cast<UINT>(f.sample_rate), TRUE);
        SetDlgItemInt(d, IDC_CHANNELS, static_cast<UINT>(f.channels), TRUE);
        SetDlgItemInt(d, IDC_WIDTH, static_cast<UINT>(f.width), TRUE);
        SetDlgItemInt(d, IDC_HEIGHT, static_cast<UINT>(f.height), TRUE);
        SetRadioIndex(d, IDC_CHROMA_420, IDC_CHROMA_422, f.chroma_index);
        SetRadioIndex(d, IDC_PROGRESSIVE, IDC_INTERLACE, f.progressive_index);
        SetDlgItemInt(d, IDC_GOP_LENGTH, static_cast<UINT>(f.gop_length), TRUE);
        SetDlgItemInt(d, IDC_BFRAME_NUM, static_cast<UINT>(f.bframe_num), TRUE);
        SetCheck(d, IDC_CLOSE_GOP, f.close_gop != 0);
        SendDlgItemMessageW(d, IDC_RATE_CONTROL, CB_SETCURSEL, f.rate_control_index, 0);
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.6g", static_cast<double>(f.frame_rate));
        SetItemText(d, IDC_FRAME_RATE, rate);
        SetDlgItemInt(d, IDC_VIDEO_BITRATE, static_cast<UINT>(f.video_bitrate), TRUE);
        SetDlgItemInt(d, IDC_QP, static_cast<UINT>(f.qp), TRUE);
        SetCheck(d, IDC_RDO, f.rdo != 0);
        SetDlgItemInt(d, IDC_SEARCH_RANGE, static_cast<UINT>(f.search_range), TRUE);
        SetCheck(d, IDC_INSERT_SEQ_HEADER, f.insert_seq_header != 0);
        SetDlgItemInt(d, IDC_THREAD_NUM, static_cast<UINT>(f.thread_num), TRUE);
        SetCheck(d, IDC_LOOP_FILTER, f.loop_filter != 0);
        SetItemText(d, IDC_OUTPUT_PATH, f.output_path);
        return true;
    }
    // In exchange order; the first field that does not parse stops the exchange.
    if (!ReadInt(IDC_AUDIO_BITRATE, f.audio_bitrate) || !ReadInt(IDC_SAMPLE_RATE, f.sample_rate) ||
        !ReadInt(IDC_CHANNELS, f.channels) || !ReadInt(IDC_WIDTH, f.width) ||
        !ReadInt(IDC_HEIGHT, f.height)) {
        return false;
    }
    f.chroma_index = RadioIndex(d, IDC_CHROMA_420, IDC_CHROMA_422);
    f.progressive_index = RadioIndex(d, IDC_PROGRESSIVE, IDC_INTERLACE);
    if (!ReadInt(IDC_GOP_LENGTH, f.gop_length) || !ReadInt(IDC_BFRAME_NUM, f.bframe_num))
        return false;
    f.close_gop = Checked(d, IDC_CLOSE_GOP) ? 1 : 0;
    f.rate_control_index =
        static_cast<int>(SendDlgItemMessageW(d, IDC_RATE_CONTROL, CB_GETCURSEL, 0, 0));
    if (!ReadFloat(IDC_FRAME_RATE, f.frame_rate) || !ReadInt(IDC_VIDEO_BITRATE, f.video_bitrate) ||
        !ReadInt(IDC_QP, f.qp)) {
        return false;
    }
    f.rdo = Checked(d, IDC_RDO) ? 1 : 0;
    if (!ReadInt(IDC_SEARCH_RANGE, f.search_range)) return false;
    f.insert_seq_header = Checked(d, IDC_INSERT_SEQ_HEADER) ? 1 : 0;
    if (!ReadInt(IDC_THREAD_NUM, f.thread_num)) return false;
    f.loop_filter = Checked(d, IDC_LOOP_FILTER) ? 1 : 0;
    f.output_path = ItemText(d, IDC_OUTPUT_PATH);
    return true;
}

void CSettingDlg::OnOK() {
    if (!UpdateData(true)) return;
    if (modal_) EndDialog(dialog_, IDOK);
}

void CSettingDlg::OnBrowse() {
    BROWSEINFOW info{};
    info.hwndOwner = dialog_;
    info.pidlRoot = nullptr;  // the desktop
    info.lpszTitle = L"请选择文件路径: ";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) return;  // cancelled: the output path stays
    wchar_t path[MAX_PATH] = {};
    const bool has_path = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (!has_path) return;
    if (!UpdateData(true)) {
        // Showing the members again would put back the old values over what was typed
        // into the field that did not parse and every field after it.
        SetItemText(dialog_, IDC_OUTPUT_PATH, Narrow(path));
        return;
    }
    fields_.output_path = Narrow(path);
    UpdateData(false);
}

void CSettingDlg::OnRateControlChange() {
    const LRESULT index = SendDlgItemMessageW(dialog_, IDC_RATE_CONTROL, CB_GETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(dialog_, IDC_VIDEO_BITRATE), index != 0 ? TRUE : FALSE);
}

// The About box: OK or Esc closes it.
namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        if (GetWindowLongPtrW(dialog, DWLP_USER) != 0) EndDialog(dialog, LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

INT_PTR ShowAboutBox(HWND owner) {
    return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 1);
}

HWND CreateAboutBoxModeless(HWND owner) {
    return CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace avs::frontend::win32
