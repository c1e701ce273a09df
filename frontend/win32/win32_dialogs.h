#pragma once
// The three dialogs on Win32, from the templates of ostrander.rc: the main dialog (file
// list, conversions, progress), the settings dialog and the About box. The run logic is
// ostrander_core's; these classes only connect it to the controls.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "frontend/child_runner.h"
#include "frontend/conversion_run.h"
#include "frontend/conversion_settings.h"
#include "frontend/setting_fields.h"

namespace avs::frontend::win32 {

using frontend::ApplyFields;
using frontend::FieldsFromSettings;
using frontend::SettingFields;

// Where the dialogs hand control to a person. A headless run writes messages to standard
// error instead, so nothing waits for an answer.
struct Prompts {
    bool headless = false;
    void ShowMessage(HWND owner, const std::string& text) const;
};

class CSettingDlg {
  public:
    explicit CSettingDlg(const Prompts& prompts) : prompts_(prompts) {}
    SettingFields& Fields() { return fields_; }

    // IDOK or IDCANCEL.
    INT_PTR DoModal(HWND owner);
    // For tests and screenshots: the dialog without its own loop, initialised.
    HWND CreateModeless(HWND owner);

    void OnInitDialog(HWND dialog);
    // Members into the controls (save false) or back with validation (save true; false
    // and a message when a field does not parse, the field then has the focus).
    bool UpdateData(bool save);
    void OnOK();
    void OnBrowse();
    void OnRateControlChange();

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
    bool ReadInt(int id, int& value);
    bool ReadFloat(int id, float& value);

    const Prompts& prompts_;
    SettingFields fields_;
    HWND dialog_ = nullptr;
    bool modal_ = false;
};

INT_PTR ShowAboutBox(HWND owner);
HWND CreateAboutBoxModeless(HWND owner);

class COstranderDlg : public ConversionUi {
  public:
    explicit COstranderDlg(Prompts prompts);
    ~COstranderDlg() override;

    ConversionSettings& Settings() { return settings_; }
    bool Closing() const { return closing_; }
    // The run to start as soon as the dialog is up; the dialog closes when it is done.
    void ConvertOnStart(Target target) { start_target_ = target; }
    std::optional<RunResult> StartResult() const { return start_result_; }

    INT_PTR DoModal();
    HWND CreateModeless();
    HWND Hwnd() const { return dialog_; }

    // Adds each path not yet in the list (exact comparison); the list box sorts them in.
    void AddFiles(const std::vector<std::string>& paths);
    // Files to add once the dialog exists (before it runs there is no list box).
    void PendFiles(std::vector<std::string> paths) { pending_files_ = std::move(paths); }
    std::vector<std::string> Files() const;

    void OnInitDialog();
    void OnAddFiles();
    void OnDeleteFiles();
    void OnClearFiles();
    void OnSettings();
    void OnAbout();
    void OnCancel();
    RunResult OnConvertAsm() { return Convert(Target::kContainer); }
    RunResult OnConvertTs() { return Convert(Target::kTransportStream); }

    // ConversionUi.
    void SetProgress(int value) override;
    void SetPercentText(const std::string& text) override;
    void PumpEvents() override;
    void ShowMessage(const std::string& text) override;
    int FileCount() override;
    std::string FileAt(int index) override;
    void RemoveFileAt(int index) override;
    void SetRunControlsEnabled(bool enabled) override;
    void SetProgressRange(int low, int high) override;
    void SetWaitCursor(bool on) override;

  private:
    static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
    RunResult Convert(Target target);
    void Close(INT_PTR result);

    Prompts prompts_;
    ConversionSettings settings_;
    std::string start_dir_;
    ChildRunner runner_;
    bool closing_ = false;
    bool modal_ = false;
    bool wait_cursor_ = false;
    HWND dialog_ = nullptr;
    HICON icon_ = nullptr;
    HICON small_icon_ = nullptr;
    std::optional<Target> start_target_;
    std::optional<RunResult> start_result_;
    std::vector<std::string> pending_files_;
};

}  // namespace avs::frontend::win32
