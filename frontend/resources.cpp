#include "frontend/resources.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace avs::frontend {

QPixmap IconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, size, size);
    fill.setColorAt(0, QColor(0x2a, 0x6f, 0xc9));
    fill.setColorAt(1, QColor(0x10, 0x2f, 0x66));
    p.setBrush(fill);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 6.0, size / 6.0);
    // A play triangle: the program turns media into playable files.
    const double s = size;
    const QPointF triangle[3] = {{s * 0.36, s * 0.26}, {s * 0.36, s * 0.74}, {s * 0.76, s * 0.5}};
    p.setBrush(Qt::white);
    p.drawPolygon(triangle, 3);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(IconPixmap(16));
    icon.addPixmap(IconPixmap(32));
    return icon;
}

QPixmap BannerPixmap(const QSize& size) {
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    QLinearGradient fill(0, 0, size.width(), 0);
    fill.setColorAt(0, QColor(0x10, 0x2f, 0x66));
    fill.setColorAt(1, QColor(0x4a, 0x8f, 0xe0));
    p.fillRect(pixmap.rect(), fill);
    const int h = size.height();
    p.drawPixmap(h / 6, h / 6, IconPixmap(h - h / 3));
    QFont title;
    title.setPixelSize(qMax(8, h * 2 / 5));
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(h, 0, size.width() - h, h), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Ostrander  AVS"));
    return pixmap;
}

}  // namespace avs::frontend
