#pragma once
// Dialog templates place controls in dialog units, which scale with the dialog font: a
// horizontal unit is a quarter of the font's average character width, a vertical unit an
// eighth of its height.

#include <QFont>
#include <QRect>
#include <QSize>

namespace avs::frontend {

struct DialogBaseUnits {
    int cx;  // average character width in pixels
    int cy;  // character height in pixels
};

// Computed as Windows does: the width of the 52 Latin letters, halved and rounded, and the
// font's full height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Multiplies and divides with rounding to nearest, halves away from zero.
int MulDiv(int number, int numerator, int denominator);

QRect DluRect(const DialogBaseUnits& units, int x, int y, int width, int height);
QSize DluSize(const DialogBaseUnits& units, int width, int height);

// "宋体" at 9 points, or an installed font that has the CJK glyphs when it is missing.
QFont DialogFont();

}  // namespace avs::frontend
