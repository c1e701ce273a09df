#pragma once
// The places where the dialogs hand control to the user (message boxes, modal dialogs, file
// and folder pickers). Tests and headless runs replace them so nothing blocks.

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;
class QWidget;

namespace avs::frontend {

struct UiHooks {
    std::function<void(QWidget* parent, const QString& text)> show_message;
    std::function<int(QDialog& dialog)> run_modal;
    std::function<QStringList(QWidget* parent)> choose_files;
    std::function<QString(QWidget* parent, const QString& title)> choose_folder;

    // Real boxes and dialogs; on the offscreen and minimal platforms, where nobody could
    // answer a box, messages go to standard error instead.
    static UiHooks Default();
};

}  // namespace avs::frontend
