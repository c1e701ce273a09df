#pragma once
// The settings dialog: edits a copy of the conversion settings.

#include <QDialog>
#include <QString>

#include "frontend/conversion_settings.h"
#include "frontend/dialog_units.h"
#include "frontend/setting_fields.h"
#include "frontend/ui_hooks.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace avs::frontend {

class CSettingDlg : public QDialog {
  public:
    CSettingDlg(const UiHooks& hooks, QWidget* parent = nullptr);

    SettingFields& Fields() { return fields_; }

    // Shows the members in the controls and opens with rate control off.
    void OnInitDialog();
    // Moves the members into the controls (save false) or the controls into the members
    // (save true, with validation; false when a field did not parse).
    bool UpdateData(bool save);

    void OnOK();
    void OnBrowse();
    void OnRateControlChange();

    // The control with this identifier (its object name is the number).
    QWidget* Control(int id) const;

  private:
    QLineEdit* AddEdit(int id, int x, int y, int w, int h);
    void AddLabel(const char* text, int x, int y, int w, int h);
    bool ReadInt(QLineEdit* edit, int& value);
    bool ReadFloat(QLineEdit* edit, float& value);
    static void SetRadio(QButtonGroup* group, int index);

    const UiHooks& hooks_;
    DialogBaseUnits units_;
    SettingFields fields_;
    QLineEdit *audio_bitrate_, *sample_rate_, *channels_, *width_, *height_, *frame_rate_;
    QLineEdit *gop_length_, *bframe_num_, *qp_, *search_range_, *thread_num_, *video_bitrate_;
    QLineEdit* output_path_;
    QButtonGroup* chroma_;
    QButtonGroup* progressive_;
    QComboBox* rate_control_;
    QCheckBox *close_gop_, *rdo_, *insert_seq_header_, *loop_filter_;
};

}  // namespace avs::frontend
