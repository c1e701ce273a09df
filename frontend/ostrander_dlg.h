#pragma once
// The main dialog: the source list, the conversion buttons and the progress display.

#include <QDialog>
#include <QStringList>
#include <string>

#include "frontend/child_runner.h"
#include "frontend/conversion_run.h"
#include "frontend/conversion_settings.h"
#include "frontend/dialog_units.h"
#include "frontend/ui_hooks.h"

class QLabel;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;

namespace avs::frontend {

class COstranderDlg : public QDialog, public ConversionUi {
  public:
    explicit COstranderDlg(UiHooks hooks = UiHooks::Default(), QWidget* parent = nullptr);
    ~COstranderDlg() override;

    // Handlers.
    void OnAddFiles();
    void OnDeleteFiles();
    void OnClearFiles();
    void OnSettings();
    void OnAbout();
    RunResult OnConvertAsm() { return Convert(Target::kContainer); }
    RunResult OnConvertTs() { return Convert(Target::kTransportStream); }
    void OnSysCommand(int command);
    // Exit, Esc and closing the window: stops a running child and closes.
    void reject() override;

    // Adds full paths the way the file dialog's OK does: no duplicates, sorted in.
    void AddFiles(const QStringList& paths);
    QStringList Files() const;

    ConversionSettings& Settings() { return settings_; }
    const std::string& StartDir() const { return start_dir_; }
    bool Closing() const { return closing_; }
    // True when a piped stage could not start and the program must end.
    bool Failed() const { return failed_; }
    ChildRunner& Runner() { return runner_; }
    QMenu* SystemMenu() const { return system_menu_; }
    QWidget* Control(int id) const;
    QLabel* PercentLabel() const { return percent_label_; }

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

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    RunResult Convert(Target target);
    QPushButton* AddButton(const char* text, int id, int x, int y, int w, int h);
    void OnInitDialog();

    UiHooks hooks_;
    DialogBaseUnits units_;
    ConversionSettings settings_;
    bool closing_ = false;
    bool failed_ = false;
    bool pumping_ = false;
    bool wait_cursor_ = false;
    std::string start_dir_;
    ChildRunner runner_;
    QListWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* percent_label_ = nullptr;
    QMenu* system_menu_ = nullptr;
};

}  // namespace avs::frontend
