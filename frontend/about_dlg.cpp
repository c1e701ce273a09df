#include "frontend/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "frontend/dialog_units.h"
#include "frontend/resources.h"

namespace avs::frontend {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setFont(DialogFont());
    const DialogBaseUnits u = BaseUnitsOf(font());
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(DluSize(u, 209, 62));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("-1"));
    icon->setPixmap(IconPixmap(32));
    icon->setGeometry(DluRect(u, 11, 17, 21, 20));
    auto* line = new QLabel(QString::fromUtf8(kAboutLine), this);
    line->setObjectName(QStringLiteral("-1"));
    line->setGeometry(DluRect(u, 40, 14, 119, 8));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setGeometry(DluRect(u, 152, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace avs::frontend
