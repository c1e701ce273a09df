#pragma once

#include <QDialog>

namespace avs::frontend {

// The About box: icon, version line and an OK button.
class CAboutDlg : public QDialog {
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace avs::frontend
