#include "frontend/setting_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace avs::frontend {

namespace {

QRadioButton* MakeRadio(QWidget* parent, const char* text, int id, const QRect& rect) {
    auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
    radio->setObjectName(QString::number(id));
    radio->setGeometry(rect);
    radio->setAutoExclusive(false);  // the pairs are grouped explicitly below
    return radio;
}

QCheckBox* MakeCheck(QWidget* parent, const char* text, int id, const QRect& rect) {
    auto* check = new QCheckBox(QString::fromUtf8(text), parent);
    check->setObjectName(QString::number(id));
    check->setGeometry(rect);
    return check;
}

QGroupBox* MakeGroup(QWidget* parent, const char* text, const QRect& rect) {
    auto* group = new QGroupBox(QString::fromUtf8(text), parent);
    group->setObjectName(QStringLiteral("-1"));
    group->setGeometry(rect);
    return group;
}

}  // namespace

CSettingDlg::CSettingDlg(const UiHooks& hooks, QWidget* parent) : QDialog(parent), hooks_(hooks) {
    setFont(DialogFont());
    units_ = BaseUnitsOf(font());
    setWindowTitle(QStringLiteral("参数设置"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(DluSize(units_, 376, 241));
    const DialogBaseUnits& u = units_;

    MakeGroup(this, "音频", DluRect(u, 7, 5, 362, 32));
    AddLabel("BitRate", 15, 20, 42, 8);
    audio_bitrate_ = AddEdit(1010, 60, 18, 50, 12);
    AddLabel("Sample Rate", 125, 20, 45, 8);
    sample_rate_ = AddEdit(1013, 175, 18, 50, 12);
    AddLabel("Channel", 245, 20, 40, 8);
    channels_ = AddEdit(1014, 290, 18, 50, 12);
    // Sample rate and channels are kept in the settings but not offered.
    for (QWidget* w : {static_cast<QWidget*>(sample_rate_), static_cast<QWidget*>(channels_)}) {
        w->hide();
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->text() == QLatin1String("Sample Rate") ||
            label->text() == QLatin1String("Channel")) {
            label->hide();
        }
    }

    MakeGroup(this, "视频", DluRect(u, 7, 42, 362, 132));
    AddLabel("Width", 15, 57, 42, 8);
    width_ = AddEdit(1011, 60, 55, 50, 12);
    AddLabel("Height", 128, 57, 48, 8);
    height_ = AddEdit(1012, 178, 55, 50, 12);
    AddLabel("Frame rate", 245, 57, 45, 8);
    frame_rate_ = AddEdit(1020, 300, 55, 55, 12);
    AddLabel("GOPLength", 15, 75, 42, 8);
    gop_length_ = AddEdit(1038, 60, 73, 50, 12);
    AddLabel("BitRate", 128, 75, 48, 8);
    video_bitrate_ = AddEdit(1044, 178, 73, 50, 12);
    video_bitrate_->setEnabled(false);
    AddLabel("SearchRange", 245, 75, 50, 8);
    search_range_ = AddEdit(1046, 300, 73, 55, 12);
    AddLabel("QP", 15, 93, 42, 8);
    qp_ = AddEdit(1039, 60, 91, 50, 12);
    AddLabel("BFrameNum", 128, 93, 48, 8);
    bframe_num_ = AddEdit(1040, 178, 91, 50, 12);
    AddLabel("ThreadNum", 245, 93, 50, 8);
    thread_num_ = AddEdit(1048, 300, 91, 55, 12);

    AddLabel("ChromaFormat", 15, 113, 55, 8);
    chroma_ = new QButtonGroup(this);
    chroma_->addButton(MakeRadio(this, "4:2:0", 1018, DluRect(u, 75, 111, 42, 12)), 0);
    chroma_->addButton(MakeRadio(this, "4:2:2", 1035, DluRect(u, 120, 111, 42, 12)), 1);
    AddLabel("Progressive Sequence", 168, 113, 82, 8);
    progressive_ = new QButtonGroup(this);
    progressive_->addButton(MakeRadio(this, "progressive", 1036, DluRect(u, 250, 111, 60, 12)), 0);
    progressive_->addButton(MakeRadio(this, "interlace", 1037, DluRect(u, 312, 111, 50, 12)), 1);

    AddLabel("Flag of rate control", 15, 133, 75, 8);
    rate_control_ = new QComboBox(this);
    rate_control_->setObjectName(QStringLiteral("1022"));
    rate_control_->setGeometry(DluRect(u, 95, 131, 50, 14));
    rate_control_->addItems({QStringLiteral("off"), QStringLiteral("on")});
    connect(rate_control_, &QComboBox::currentIndexChanged, this,
            [this] { OnRateControlChange(); });

    close_gop_ = MakeCheck(this, "CloseGOP", 1019, DluRect(u, 15, 153, 55, 12));
    rdo_ = MakeCheck(this, "RDO", 1045, DluRect(u, 75, 153, 40, 12));
    insert_seq_header_ =
        MakeCheck(this, "Insert sequence header", 1047, DluRect(u, 120, 153, 110, 12));
    loop_filter_ = MakeCheck(this, "LoopFilter", 1049, DluRect(u, 235, 153, 60, 12));
    loop_filter_->hide();

    MakeGroup(this, "输出", DluRect(u, 7, 178, 362, 32));
    AddLabel("Output Path", 15, 193, 45, 8);
    output_path_ = AddEdit(1050, 60, 191, 238, 12);
    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    browse->setObjectName(QStringLiteral("1051"));
    browse->setGeometry(DluRect(u, 305, 190, 55, 14));
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(DluRect(u, 250, 218, 55, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("2"));
    cancel->setGeometry(DluRect(u, 312, 218, 55, 14));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QLineEdit* CSettingDlg::AddEdit(int id, int x, int y, int w, int h) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    edit->setGeometry(DluRect(units_, x, y, w, h));
    return edit;
}

void CSettingDlg::AddLabel(const char* text, int x, int y, int w, int h) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setObjectName(QStringLiteral("-1"));
    label->setGeometry(DluRect(units_, x, y, w, h));
}

QWidget* CSettingDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

void CSettingDlg::OnInitDialog() {
    UpdateData(false);
    rate_control_->setCurrentIndex(0);
    OnRateControlChange();
}

void CSettingDlg::SetRadio(QButtonGroup* group, int index) {
    for (QAbstractButton* b : group->buttons()) b->setChecked(group->id(b) == index);
}

bool CSettingDlg::ReadInt(QLineEdit* edit, int& value) {
    bool ok = false;
    const int parsed = edit->text().trimmed().toInt(&ok);
    if (!ok) {
        hooks_.show_message(this, QStringLiteral("Please enter an integer."));
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    value = parsed;
    return true;
}

bool CSettingDlg::ReadFloat(QLineEdit* edit, float& value) {
    bool ok = false;
    const float parsed = edit->text().trimmed().toFloat(&ok);
    if (!ok) {
        hooks_.show_message(this, QStringLiteral("Please enter a number."));
        edit->setFocus();
        edit->selectAll();
        return false;
    }
    value = parsed;
    return true;
}

bool CSettingDlg::UpdateData(bool save) {
    SettingFields& f = fields_;
    if (!save) {
        audio_bitrate_->setText(QString::number(f.audio_bitrate));
        sample_rate_->setText(QString::number(f.sample_rate));
        channels_->setText(QString::number(f.channels));
        width_->setText(QString::number(f.width));
        height_->setText(QString::number(f.height));
        SetRadio(chroma_, f.chroma_index);
        SetRadio(progressive_, f.progressive_index);
        gop_length_->setText(QString::number(f.gop_length));
        bframe_num_->setText(QString::number(f.bframe_num));
        close_gop_->setChecked(f.close_gop != 0);
        rate_control_->setCurrentIndex(f.rate_control_index);
        frame_rate_->setText(QString::number(static_cast<double>(f.frame_rate), 'g', 6));
        video_bitrate_->setText(QString::number(f.video_bitrate));
        qp_->setText(QString::number(f.qp));
        rdo_->setChecked(f.rdo != 0);
        search_range_->setText(QString::number(f.search_range));
        insert_seq_header_->setChecked(f.insert_seq_header != 0);
        thread_num_->setText(QString::number(f.thread_num));
        loop_filter_->setChecked(f.loop_filter != 0);
        output_path_->setText(QString::fromStdString(f.output_path));
        return true;
    }
    // In exchange order; the first field that does not parse stops the exchange.
    if (!ReadInt(audio_bitrate_, f.audio_bitrate) || !ReadInt(sample_rate_, f.sample_rate) ||
        !ReadInt(channels_, f.channels) || !ReadInt(width_, f.width) ||
        !ReadInt(height_, f.height)) {
        return false;
    }
    f.chroma_index = chroma_->checkedId();
    f.progressive_index = progressive_->checkedId();
    if (!ReadInt(gop_length_, f.gop_length) || !ReadInt(bframe_num_, f.bframe_num)) return false;
    f.close_gop = close_gop_->isChecked() ? 1 : 0;
    f.rate_control_index = rate_control_->currentIndex();
    if (!ReadFloat(frame_rate_, f.frame_rate) || !ReadInt(video_bitrate_, f.video_bitrate) ||
        !ReadInt(qp_, f.qp)) {
        return false;
    }
    f.rdo = rdo_->isChecked() ? 1 : 0;
    if (!ReadInt(search_range_, f.search_range)) return false;
    f.insert_seq_header = insert_seq_header_->isChecked() ? 1 : 0;
    if (!ReadInt(thread_num_, f.thread_num)) return false;
    f.loop_filter = loop_filter_->isChecked() ? 1 : 0;
    f.output_path = output_path_->text().toStdString();
    return true;
}

void CSettingDlg::OnOK() {
    if (UpdateData(true)) accept();
}

void CSettingDlg::OnBrowse() {
    const QString folder = hooks_.choose_folder(this, QStringLiteral("请选择文件路径: "));
    if (folder.isEmpty()) return;  // cancelled: the output path stays
    UpdateData(true);
    fields_.output_path = folder.toStdString();
    UpdateData(false);
}

void CSettingDlg::OnRateControlChange() {
    video_bitrate_->setEnabled(rate_control_->currentIndex() != 0);
}

}  // namespace avs::frontend
