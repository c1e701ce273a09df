#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <climits>

#include "frontend/about_dlg.h"
#include "frontend/ostrander_dlg.h"
#include "frontend/setting_dlg.h"
#include "qt_environment.h"
#include "stand_ins.h"

namespace avs::frontend {
namespace {

using ::testing::ElementsAre;

const auto* const kQt = ::testing::AddGlobalTestEnvironment(new testing::QtEnvironment);

// Hooks that never block: messages and modal dialogs are recorded; modal dialogs are handed
// to a test callback that plays the user's part and returns the dialog's result.
struct RecordingHooks {
    QStringList messages;
    QStringList modal_titles;
    QStringList files_to_choose;
    QString folder_to_choose;
    std::function<int(QDialog&)> user = [](QDialog&) { return int(QDialog::Rejected); };

    UiHooks Make() {
        UiHooks h;
        h.show_message = [this](QWidget*, const QString& text) { messages << text; };
        h.run_modal = [this](QDialog& d) {
            modal_titles << d.windowTitle();
            return user(d);
        };
        h.choose_files = [this](QWidget*) { return files_to_choose; };
        h.choose_folder = [this](QWidget*, const QString& title) {
            EXPECT_EQ(title, QStringLiteral("请选择文件路径: "));
            return folder_to_choose;
        };
        return h;
    }
};

template <class T>
T* Find(const QWidget& parent, int id) {
    T* w = parent.findChild<T*>(QString::number(id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

// Presses a dialog button the way a user does, through its click.
int Press(QDialog& dialog, int id) {
    Find<QPushButton>(dialog, id)->click();
    return dialog.result();
}

TEST(MainDialog, ControlsFromTheTemplate) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Ostrander 3.3.01"));
    const DialogBaseUnits u = BaseUnitsOf(dlg.font());
    EXPECT_EQ(dlg.size(), DluSize(u, 320, 268));
    // The dialog font must carry the Chinese captions.
    EXPECT_TRUE(QFontMetrics(dlg.font()).inFontUcs4(U'添'));
    EXPECT_TRUE(QFontMetrics(dlg.font()).inFontUcs4(U'转'));

    struct Row {
        int id;
        const char* text;
        int x, y, w, h;
    };
    const Row buttons[] = {{1000, "添加", 14, 64, 48, 13},    {1006, "删除", 75, 64, 48, 13},
                           {1007, "清空", 136, 64, 48, 13},   {1001, "参数设置", 197, 64, 48, 13},
                           {1008, "关于", 258, 64, 48, 13},   {1003, "转视频", 14, 248, 48, 13},
                           {1004, "转音频", 75, 248, 48, 13}, {1005, "转码ASM", 199, 248, 48, 13},
                           {2, "退出", 258, 248, 48, 13},     {1009, "转码TS", 140, 248, 48, 13}};
    for (const Row& r : buttons) {
        auto* b = Find<QPushButton>(dlg, r.id);
        EXPECT_EQ(b->text(), QString::fromUtf8(r.text));
        EXPECT_EQ(b->geometry(), DluRect(u, r.x, r.y, r.w, r.h)) << r.id;
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << r.id;  // no default button
    }
    for (int hidden : {1003, 1004}) {
        EXPECT_TRUE(Find<QPushButton>(dlg, hidden)->isHidden());
        EXPECT_FALSE(Find<QPushButton>(dlg, hidden)->isEnabled());
    }
    EXPECT_EQ(Find<QListWidget>(dlg, 1002)->geometry(), DluRect(u, 14, 85, 292, 136));
    EXPECT_EQ(Find<QListWidget>(dlg, 1002)->selectionMode(), QAbstractItemView::MultiSelection);
    auto* bar = Find<QProgressBar>(dlg, 1021);
    EXPECT_EQ(bar->geometry(), DluRect(u, 15, 231, 260, 7));
    // The percentage label is the first control with id -1, ahead of the banner.
    auto* label = dlg.findChild<QLabel*>(QStringLiteral("-1"));
    ASSERT_EQ(label, dlg.PercentLabel());
    EXPECT_EQ(label->geometry(), DluRect(u, 278, 230, 21, 12));
    EXPECT_TRUE(label->alignment() & Qt::AlignRight);
    EXPECT_TRUE(label->text().isEmpty());

    // Tab order follows the template order.
    dlg.show();
    QStringList order;
    QWidget* w = Find<QPushButton>(dlg, 1000);
    do {
        if (w->isVisible() && w->isEnabled() && w->focusPolicy() & Qt::TabFocus &&
            w->window() == &dlg && w->objectName().toInt() != 0) {
            order << w->objectName();
        }
        w = w->nextInFocusChain();
    } while (w != Find<QPushButton>(dlg, 1000));
    EXPECT_EQ(order,
              QStringList({"1000", "1006", "1007", "1001", "1008", "1005", "2", "1002", "1009"}));
    EXPECT_FALSE(dlg.windowIcon().isNull());
}

TEST(MainDialog, FileListSortedWithoutDuplicates) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    dlg.PercentLabel()->setText(QStringLiteral("完成"));
    rec.files_to_choose = {"/m/c.avi", "/m/a.avi", "/m/c.avi", "/m/B.avi"};
    dlg.OnAddFiles();
    EXPECT_EQ(dlg.Files(), QStringList({"/m/a.avi", "/m/B.avi", "/m/c.avi"}));
    EXPECT_TRUE(dlg.PercentLabel()->text().isEmpty());
    // A second selection: the same path is not added again, another spelling is.
    rec.files_to_choose = {"/m/a.avi", "/m/A.avi", "/m/b.avi"};
    dlg.OnAddFiles();
    EXPECT_EQ(dlg.Files(),
              QStringList({"/m/A.avi", "/m/a.avi", "/m/B.avi", "/m/b.avi", "/m/c.avi"}));
    // Cancel changes nothing, not even the label.
    dlg.PercentLabel()->setText(QStringLiteral("100%"));
    rec.files_to_choose.clear();
    Find<QPushButton>(dlg, 1000)->click();
    EXPECT_EQ(dlg.Files().size(), 5);
    EXPECT_EQ(dlg.PercentLabel()->text(), QStringLiteral("100%"));
}

TEST(MainDialog, DeleteSelectedAndClear) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    dlg.AddFiles({"/f/0", "/f/1", "/f/2", "/f/3", "/f/4", "/f/5"});
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* list = Find<QListWidget>(dlg, 1002);
    // Each click toggles an entry: 1, 3, 4 and 2 selected, then 2 clicked off again.
    for (int row : {1, 3, 4, 2, 2}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    Find<QPushButton>(dlg, 1006)->click();
    EXPECT_EQ(dlg.Files(), QStringList({"/f/0", "/f/2", "/f/5"}));
    Find<QPushButton>(dlg, 1007)->click();
    EXPECT_TRUE(dlg.Files().isEmpty());
}

TEST(SettingsDialog, ValuesAndConversionsInAndOut) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    ConversionSettings& s = dlg.Settings();
    s.chroma_format = 2;
    s.progressive_sequence = 0;
    s.rate_control = 3;
    s.frame_rate = 29.97f;
    s.output_path = "/videos/out";
    rec.user = [](QDialog& d) {
        auto& sd = static_cast<CSettingDlg&>(d);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("参数设置"));
        EXPECT_EQ(Find<QLineEdit>(d, 1010)->text(), "64");
        EXPECT_TRUE(Find<QLineEdit>(d, 1013)->isHidden());
        EXPECT_TRUE(Find<QLineEdit>(d, 1014)->isHidden());
        EXPECT_TRUE(Find<QCheckBox>(d, 1049)->isHidden());
        EXPECT_EQ(Find<QLineEdit>(d, 1013)->text(), "16000");
        EXPECT_EQ(Find<QLineEdit>(d, 1020)->text(), "29.97");
        EXPECT_EQ(Find<QLineEdit>(d, 1050)->text(), "/videos/out");
        EXPECT_TRUE(Find<QRadioButton>(d, 1035)->isChecked());  // 4:2:2
        EXPECT_FALSE(Find<QRadioButton>(d, 1018)->isChecked());
        EXPECT_TRUE(Find<QRadioButton>(d, 1037)->isChecked());  // interlace
        EXPECT_TRUE(Find<QCheckBox>(d, 1019)->isChecked());     // CloseGOP
        EXPECT_TRUE(Find<QCheckBox>(d, 1047)->isChecked());
        EXPECT_FALSE(Find<QCheckBox>(d, 1045)->isChecked());
        // Rate control is not copied in: the dialog opens with it off and 1044 disabled.
        auto* combo = Find<QComboBox>(d, 1022);
        EXPECT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->itemText(0), "off");
        EXPECT_EQ(combo->itemText(1), "on");
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_FALSE(Find<QLineEdit>(d, 1044)->isEnabled());
        combo->setCurrentIndex(1);
        EXPECT_TRUE(Find<QLineEdit>(d, 1044)->isEnabled());
        Find<QLineEdit>(d, 1044)->setText("2000");
        Find<QLineEdit>(d, 1011)->setText("720");
        Find<QLineEdit>(d, 1012)->setText(" 576 ");
        Find<QRadioButton>(d, 1018)->click();
        Find<QRadioButton>(d, 1036)->click();
        Find<QCheckBox>(d, 1045)->click();
        Find<QLineEdit>(d, 1020)->setText("25");
        EXPECT_FALSE(Find<QRadioButton>(d, 1035)->isChecked());  // the pair is exclusive
        (void)sd;
        return Press(d, 1);
    };
    dlg.OnSettings();
    EXPECT_EQ(s.chroma_format, 1);
    EXPECT_EQ(s.progressive_sequence, 1);
    EXPECT_EQ(s.rate_control, 3);
    EXPECT_EQ(s.video_bitrate, 2000);
    EXPECT_EQ(s.width, 720);
    EXPECT_EQ(s.height, 576);
    EXPECT_EQ(s.rdo, 1);
    EXPECT_EQ(s.frame_rate, 25.0f);
    EXPECT_EQ(s.sample_rate, 16000);
    EXPECT_EQ(s.output_path, "/videos/out");
    EXPECT_EQ(s.f_value, 3);

    // Opening again with rate control on and pressing OK untouched turns it off.
    rec.user = [](QDialog& d) { return Press(d, 1); };
    dlg.OnSettings();
    EXPECT_EQ(s.rate_control, 0);
    EXPECT_EQ(s.video_bitrate, 2000);
    EXPECT_EQ(rec.modal_titles.size(), 2);
}

TEST(SettingsDialog, CancelAndBadInputLeaveTheSettingsAlone) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    const ConversionSettings before = dlg.Settings();
    rec.user = [](QDialog& d) {
        Find<QLineEdit>(d, 1038)->setText("99");
        Find<QRadioButton>(d, 1035)->click();
        return Press(d, 2);
    };
    dlg.OnSettings();
    EXPECT_EQ(dlg.Settings(), before);

    // Text that is not a number: the standard message, and the dialog stays open.
    rec.user = [&](QDialog& d) {
        Find<QLineEdit>(d, 1040)->setText("two");
        EXPECT_EQ(Press(d, 1), QDialog::Rejected);
        EXPECT_THAT(rec.messages, ElementsAre("Please enter an integer."));
        Find<QLineEdit>(d, 1040)->setText("3");
        Find<QLineEdit>(d, 1020)->setText("fast");
        Press(d, 1);
        EXPECT_EQ(rec.messages.last(), "Please enter a number.");
        return Press(d, 2);
    };
    dlg.OnSettings();
    EXPECT_EQ(dlg.Settings(), before);
}

TEST(SettingsDialog, BrowseFillsTheOutputPath) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    rec.user = [&](QDialog& d) {
        Find<QLineEdit>(d, 1038)->setText("12");  // typed before browsing: kept
        rec.folder_to_choose.clear();             // browser cancelled: nothing changes
        Find<QPushButton>(d, 1051)->click();
        EXPECT_EQ(Find<QLineEdit>(d, 1050)->text(), "");
        rec.folder_to_choose = "/home/u/Videos";
        Find<QPushButton>(d, 1051)->click();
        EXPECT_EQ(Find<QLineEdit>(d, 1050)->text(), "/home/u/Videos");
        EXPECT_EQ(Find<QLineEdit>(d, 1038)->text(), "12");
        return Press(d, 1);
    };
    dlg.OnSettings();
    EXPECT_EQ(dlg.Settings().output_path, "/home/u/Videos");
    EXPECT_EQ(dlg.Settings().gop_length, 12);
}

TEST(AboutBox, FromTheButtonAndTheSystemMenu) {
    RecordingHooks rec;
    QStringList lines;
    rec.user = [&](QDialog& d) {
        EXPECT_NE(dynamic_cast<CAboutDlg*>(&d), nullptr);
        for (QLabel* l : d.findChildren<QLabel*>()) {
            if (!l->text().isEmpty()) lines << l->text();
        }
        EXPECT_EQ(Find<QPushButton>(d, 1)->text(), "确定");
        return Press(d, 1);
    };
    COstranderDlg dlg(rec.Make());
    Find<QPushButton>(dlg, 1008)->click();
    QAction* entry = nullptr;
    for (QAction* a : dlg.SystemMenu()->actions()) {
        if (a->text() == QStringLiteral("关于 Ostrander(&A)...")) entry = a;
    }
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(dlg.SystemMenu()
                    ->actions()
                    .at(dlg.SystemMenu()->actions().indexOf(entry) - 1)
                    ->isSeparator());
    entry->trigger();
    dlg.OnSysCommand(0x0013);  // low four bits are ignored
    dlg.OnSysCommand(0xF060);  // other commands are not ours
    EXPECT_EQ(rec.modal_titles,
              QStringList({"关于 Ostrander", "关于 Ostrander", "关于 Ostrander"}));
    EXPECT_EQ(lines,
              QStringList({"Ostrander 3.3.01 版", "Ostrander 3.3.01 版", "Ostrander 3.3.01 版"}));
}

// Runs a dialog whose start directory holds the stand-in children.
class DialogRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
        ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(old_dir_), 0); }

    testing::StandInDir dir_;
    RecordingHooks rec_;

  private:
    char old_dir_[PATH_MAX];
};

// Records the keys a widget receives.
class KeyRecorder : public QObject {
  public:
    QList<int> keys;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) keys << static_cast<QKeyEvent*>(e)->key();
        return false;
    }
};

TEST_F(DialogRunTest, ConversionShowsProgressAndEndsWithDone) {
    COstranderDlg dlg(rec_.Make());
    EXPECT_EQ(dlg.StartDir().back() == '/' ? dlg.StartDir() : dlg.StartDir() + "/",
              dir_.Path() + "/");
    Find<QPushButton>(dlg, 1009)->click();  // empty list
    EXPECT_THAT(rec_.messages, ElementsAre("Please Open Media File(s)!"));
    const std::string src = dir_.MakeSource("clip.avi");
    dlg.AddFiles({QString::fromStdString(src)});
    EXPECT_EQ(dlg.OnConvertAsm(), RunResult::kFinished);
    EXPECT_TRUE(testing::FileExists(src + ".asm"));
    EXPECT_FALSE(testing::FileExists(src + ".avs"));
    EXPECT_TRUE(dlg.Files().isEmpty());
    EXPECT_EQ(Find<QProgressBar>(dlg, 1021)->value(), 0);
    EXPECT_EQ(dlg.PercentLabel()->text(), QStringLiteral("完成"));
    for (int id : {1000, 1006, 1007, 1001, 1005, 1009})
        EXPECT_TRUE(Find<QPushButton>(dlg, id)->isEnabled());
    EXPECT_FALSE(dlg.Closing());
}

TEST_F(DialogRunTest, AboutAndExitDuringAPipedStageAndAltIsSwallowed) {
    COstranderDlg dlg(rec_.Make());
    const std::string a = dir_.MakeSource("a.avi");
    const std::string hang = dir_.MakeSource("b_hang.avi");
    dlg.AddFiles({QString::fromStdString(hang), QString::fromStdString(a)});
    dlg.show();
    auto* list = Find<QListWidget>(dlg, 1002);
    KeyRecorder recorder;
    list->installEventFilter(&recorder);
    QStringList disabled_during_run;
    int bar_during_run = -1;
    rec_.user = [](QDialog& d) { return Press(d, 1); };  // About answered at once
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // Act once the hanging encode has shown its "  5%".
        if (dlg.PercentLabel()->text() != QStringLiteral("4%") || dlg.Closing()) return;
        for (int id : {1000, 1006, 1007, 1001, 1005, 1009, 1008, 2}) {
            if (!Find<QPushButton>(dlg, id)->isEnabled())
                disabled_during_run << QString::number(id);
        }
        bar_during_run = Find<QProgressBar>(dlg, 1021)->value();
        QTest::keyPress(list, Qt::Key_Alt);
        QTest::keyPress(list, Qt::Key_Down);
        Find<QPushButton>(dlg, 1008)->click();  // About still works
        Find<QPushButton>(dlg, 2)->click();     // Exit
    });
    poll.start();
    EXPECT_EQ(dlg.OnConvertTs(), RunResult::kStopped);
    poll.stop();
    EXPECT_TRUE(dlg.Closing());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.Files(), QStringList({QString::fromStdString(hang)}));
    EXPECT_TRUE(testing::FileExists(hang + ".avs"));  // nothing removed after a stop
    EXPECT_TRUE(testing::FileExists(a + ".avsts"));
    EXPECT_EQ(disabled_during_run, QStringList({"1000", "1006", "1007", "1001", "1005", "1009"}));
    EXPECT_EQ(bar_during_run, 4);  // the stand-in's "  5%"
    EXPECT_EQ(rec_.modal_titles, QStringList({"关于 Ostrander"}));
    EXPECT_EQ(recorder.keys, QList<int>({Qt::Key_Down}));
    // Outside a piped stage the Alt key reaches the dialog again.
    dlg.show();
    QTest::keyPress(list, Qt::Key_Alt);
    EXPECT_EQ(recorder.keys, QList<int>({Qt::Key_Down, Qt::Key_Alt}));
}

TEST_F(DialogRunTest, MissingEncoderEndsTheProgram) {
    dir_.Remove("Harrowgate");
    COstranderDlg dlg(rec_.Make());
    dlg.show();
    dlg.AddFiles({QString::fromStdString(dir_.MakeSource("clip.avi"))});
    EXPECT_EQ(dlg.OnConvertTs(), RunResult::kFatal);
    EXPECT_THAT(rec_.messages, ElementsAre("Create Process failed!"));
    EXPECT_TRUE(dlg.Failed());
    EXPECT_FALSE(dlg.isVisible());
}

TEST(MainDialog, ExitWhileIdleClosesAtOnce) {
    RecordingHooks rec;
    COstranderDlg dlg(rec.Make());
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg.Closing());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace avs::frontend
