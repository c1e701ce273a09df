// Grabs the three dialogs into PNG files for the documentation:
//   ostrander_screenshots DIR   (run under xvfb-run; docs/screenshots/take.sh does it)
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "frontend/about_dlg.h"
#include "frontend/ostrander_dlg.h"
#include "frontend/setting_dlg.h"

using namespace avs::frontend;

namespace {

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget)) QTest::qWait(200);
    QTest::qWait(100);
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toUtf8().constData());
    widget.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    UiHooks hooks = UiHooks::Default();
    bool ok = true;

    COstranderDlg main_dialog(hooks);
    main_dialog.AddFiles({"/home/user/Videos/holiday.avi", "/home/user/Videos/lecture 03.wmv",
                          "/home/user/Videos/concert.rmvb", "/media/dvd/VIDEO_TS/VTS_01_1.vob"});
    main_dialog.SetProgressRange(0, 100);
    main_dialog.SetProgress(47);
    main_dialog.SetPercentText("47%");
    ok &= Save(main_dialog, dir + "/main.png");

    CSettingDlg settings(hooks);
    settings.Fields() = FieldsFromSettings(ConversionSettings{});
    settings.OnInitDialog();
    ok &= Save(settings, dir + "/settings.png");

    CAboutDlg about;
    ok &= Save(about, dir + "/about.png");
    return ok ? 0 : 1;
}
