#pragma once
// The settings dialog: edits a copy of the conversion settings.

#include <QDialog>
#include <QString>

#include "frontend/conversion_settings.h"
#include "frontend/dialog_units.h"
#include "frontend/ui_hooks.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace avs::frontend {

// The dialog's members, exchanged with its controls. The radio pairs and the combo box are
// held as indices (-1: no radio checked).
struct SettingFields {
    int audio_bitrate = 0;
    int sample_rate = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    int chroma_index = 0;
    int progressive_index = 0;
    int gop_length = 0;
    int bframe_num = 0;
    int close_gop = 0;
    int rate_control_index = 0;
    float frame_rate = 0;
    int video_bitrate = 0;
    int qp = 0;
    int rdo = 0;
    int search_range = 0;
    int insert_seq_header = 0;
    int thread_num = 0;
    int loop_filter = 0;
    QString output_path;
};

// Settings into the dialog's members: the radios from their values, rate control not at all.
SettingFields FieldsFromSettings(const ConversionSettings& settings);
// The members back into the settings after OK, with the reverse conversions.
void ApplyFields(const SettingFields& fields, ConversionSettings& settings);

class CSettingDlg : public QDialog {
  public:
    CSettingDlg(const UiHooks& hooks, QWidget* parent = nullptr);

    SettingFields& fields() { return fields_; }

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
