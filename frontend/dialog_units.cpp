#include "frontend/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <cstdlib>

namespace avs::frontend {

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator;
    long long quotient = product / denominator;
    const long long remainder = product % denominator;
    if (2 * std::llabs(remainder) >= std::llabs(static_cast<long long>(denominator))) {
        quotient += (product < 0) != (denominator < 0) ? -1 : 1;
    }
    return static_cast<int>(quotient);
}

QRect DluRect(const DialogBaseUnits& u, int x, int y, int width, int height) {
    return QRect(MulDiv(x, u.cx, 4), MulDiv(y, u.cy, 8), MulDiv(width, u.cx, 4),
                 MulDiv(height, u.cy, 8));
}

QSize DluSize(const DialogBaseUnits& u, int width, int height) {
    return QSize(MulDiv(width, u.cx, 4), MulDiv(height, u.cy, 8));
}

QFont DialogFont() {
    // The first one installed wins; the later ones carry the CJK glyphs on Debian.
    static const char* const kFamilies[] = {
        "宋体", "SimSun", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC", "AR PL UMing CN"};
    const QStringList installed = QFontDatabase::families();
    QFont font;
    for (const char* family : kFamilies) {
        if (installed.contains(QString::fromUtf8(family), Qt::CaseInsensitive)) {
            font.setFamily(QString::fromUtf8(family));
            break;
        }
    }
    font.setPointSize(9);
    return font;
}

}  // namespace avs::frontend
