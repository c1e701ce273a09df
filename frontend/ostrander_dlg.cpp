#include "frontend/ostrander_dlg.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <climits>
#include <vector>

#include "frontend/about_dlg.h"
#include "frontend/resources.h"
#include "frontend/setting_dlg.h"

namespace avs::frontend {
namespace {

// The ids of the buttons a run disables; About (1008) and Exit (2) stay usable.
constexpr int kRunControls[] = {1000, 1006, 1007, 1001, 1005, 1009};

// The list keeps its entries sorted without regard to letter case, as a sorted list box does;
// entries that differ only in case follow each other in code order.
bool SortsBefore(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string(".");
}

}  // namespace

COstranderDlg::COstranderDlg(UiHooks hooks, QWidget* parent)
    : QDialog(parent), hooks_(std::move(hooks)), start_dir_(CurrentDirectory()), runner_(*this) {
    setFont(DialogFont());
    units_ = BaseUnitsOf(font());
    setWindowTitle(QString::fromUtf8(kMainCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(DluSize(units_, 320, 268));

    // Template order, which is also the tab order.
    connect(AddButton("添加", 1000, 14, 64, 48, 13), &QPushButton::clicked, this,
            [this] { OnAddFiles(); });
    connect(AddButton("删除", 1006, 75, 64, 48, 13), &QPushButton::clicked, this,
            [this] { OnDeleteFiles(); });
    connect(AddButton("清空", 1007, 136, 64, 48, 13), &QPushButton::clicked, this,
            [this] { OnClearFiles(); });
    connect(AddButton("参数设置", 1001, 197, 64, 48, 13), &QPushButton::clicked, this,
            [this] { OnSettings(); });
    connect(AddButton("关于", 1008, 258, 64, 48, 13), &QPushButton::clicked, this,
            [this] { OnAbout(); });
    for (QPushButton* unused :
         {AddButton("转视频", 1003, 14, 248, 48, 13), AddButton("转音频", 1004, 75, 248, 48, 13)}) {
        unused->setEnabled(false);
        unused->hide();
    }
    connect(AddButton("转码ASM", 1005, 199, 248, 48, 13), &QPushButton::clicked, this,
            [this] { OnConvertAsm(); });
    connect(AddButton("退出", 2, 258, 248, 48, 13), &QPushButton::clicked, this,
            [this] { reject(); });

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("1002"));
    list_->setGeometry(DluRect(units_, 14, 85, 292, 136));
    list_->setSelectionMode(QAbstractItemView::MultiSelection);  // each click toggles
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("1021"));
    progress_->setGeometry(DluRect(units_, 15, 231, 260, 7));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    percent_label_ = new QLabel(this);
    percent_label_->setObjectName(QStringLiteral("-1"));
    percent_label_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    percent_label_->setGeometry(DluRect(units_, 278, 230, 21, 12));

    auto* banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("-1"));
    const QRect banner_rect = DluRect(units_, 10, 10, 300, 47);
    banner->setGeometry(banner_rect);
    banner->setPixmap(BannerPixmap(banner_rect.size()));

    connect(AddButton("转码TS", 1009, 140, 248, 48, 13), &QPushButton::clicked, this,
            [this] { OnConvertTs(); });

    qApp->installEventFilter(this);
    OnInitDialog();
}

COstranderDlg::~COstranderDlg() {
    qApp->removeEventFilter(this);
    if (wait_cursor_) QApplication::restoreOverrideCursor();
}

QPushButton* COstranderDlg::AddButton(const char* text, int id, int x, int y, int w, int h) {
    auto* button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QString::number(id));
    button->setGeometry(DluRect(units_, x, y, w, h));
    button->setAutoDefault(false);  // no button is the default one
    return button;
}

void COstranderDlg::OnInitDialog() {
    // Qt cannot add to the window manager's menu, so the entry lives in a menu of its own
    // that the context-menu gesture opens.
    system_menu_ = new QMenu(this);
    QAction* close = system_menu_->addAction(QStringLiteral("关闭(&C)"));
    connect(close, &QAction::triggered, this, [this] { reject(); });
    system_menu_->addSeparator();
    QAction* about = system_menu_->addAction(QString::fromUtf8(kAboutMenuEntry));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kAboutCommand); });
    setWindowIcon(ProgramIcon());
}

QWidget* COstranderDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

void COstranderDlg::contextMenuEvent(QContextMenuEvent* event) {
    system_menu_->exec(event->globalPos());
}

void COstranderDlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == kAboutCommand) OnAbout();
}

void COstranderDlg::OnAbout() {
    CAboutDlg about(this);
    hooks_.run_modal(about);
}

void COstranderDlg::AddFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        bool present = false;
        for (int i = 0; i < list_->count() && !present; ++i)
            present = list_->item(i)->text() == path;
        if (present) continue;
        int at = 0;
        while (at < list_->count() && !SortsBefore(path, list_->item(at)->text())) ++at;
        list_->insertItem(at, path);
    }
    percent_label_->clear();
}

QStringList COstranderDlg::Files() const {
    QStringList files;
    for (int i = 0; i < list_->count(); ++i) files << list_->item(i)->text();
    return files;
}

void COstranderDlg::OnAddFiles() {
    const QStringList chosen = hooks_.choose_files(this);
    if (chosen.isEmpty()) return;  // cancelled
    AddFiles(chosen);
}

void COstranderDlg::OnDeleteFiles() {
    std::vector<int> selected;
    for (int i = 0; i < list_->count(); ++i) {
        if (list_->item(i)->isSelected()) selected.push_back(i);
    }
    int deleted = 0;
    for (int index : selected) delete list_->takeItem(index - deleted++);
}

void COstranderDlg::OnClearFiles() {
    list_->clear();
}

void COstranderDlg::OnSettings() {
    CSettingDlg dialog(hooks_, this);
    dialog.Fields() = FieldsFromSettings(settings_);
    dialog.OnInitDialog();
    if (hooks_.run_modal(dialog) == QDialog::Accepted) ApplyFields(dialog.Fields(), settings_);
}

void COstranderDlg::reject() {
    closing_ = true;
    runner_.TerminateRunning();
    QDialog::reject();
}

RunResult COstranderDlg::Convert(Target target) {
    const RunResult result =
        RunConversion({target, settings_, start_dir_}, runner_, *this, closing_);
    if (result == RunResult::kFatal) {
        // The program ends: close the dialog, which ends the modal loop and so the program.
        failed_ = true;
        closing_ = true;
        QDialog::reject();
    }
    return result;
}

// ConversionUi.

void COstranderDlg::SetProgress(int value) {
    progress_->setValue(value);
}

void COstranderDlg::SetPercentText(const std::string& text) {
    percent_label_->setText(QString::fromStdString(text));
}

void COstranderDlg::PumpEvents() {
    const bool was_pumping = pumping_;
    pumping_ = true;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    pumping_ = was_pumping;
}

bool COstranderDlg::eventFilter(QObject* watched, QEvent* event) {
    // While a piped stage pumps events, the Alt key is swallowed in this dialog so it cannot
    // start keyboard navigation of menus in the middle of a run.
    if (pumping_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void COstranderDlg::ShowMessage(const std::string& text) {
    hooks_.show_message(this, QString::fromStdString(text));
}

int COstranderDlg::FileCount() {
    return list_->count();
}

std::string COstranderDlg::FileAt(int index) {
    return list_->item(index)->text().toStdString();
}

void COstranderDlg::RemoveFileAt(int index) {
    delete list_->takeItem(index);
}

void COstranderDlg::SetRunControlsEnabled(bool enabled) {
    for (int id : kRunControls) Control(id)->setEnabled(enabled);
}

void COstranderDlg::SetProgressRange(int low, int high) {
    progress_->setRange(low, high);
}

void COstranderDlg::SetWaitCursor(bool on) {
    if (on == wait_cursor_) return;
    wait_cursor_ = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace avs::frontend
