#include "frontend/ui_hooks.h"

#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>

namespace avs::frontend {

UiHooks UiHooks::Default() {
    UiHooks hooks;
    hooks.show_message = [](QWidget* parent, const QString& text) {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
            std::fprintf(stderr, "Ostrander: %s\n", text.toUtf8().constData());
            return;
        }
        QMessageBox::warning(parent, QStringLiteral("Ostrander"), text);
    };
    hooks.run_modal = [](QDialog& dialog) { return dialog.exec(); };
    hooks.choose_files = [](QWidget* parent) {
        return QFileDialog::getOpenFileNames(
            parent, QString(), QString(),
            QStringLiteral("Media Files (.asf;.avi;.rmvb;.rm;.vob;.wmv) (*.asf *.avi *.rmvb *.rm "
                           "*.vob *.wmv);;All files(*.*) (*)"));
    };
    hooks.choose_folder = [](QWidget* parent, const QString& title) {
        return QFileDialog::getExistingDirectory(
            parent, title, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
            QFileDialog::ShowDirsOnly);
    };
    return hooks;
}

}  // namespace avs::frontend
