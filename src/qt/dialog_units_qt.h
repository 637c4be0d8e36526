#pragma once
// Dialog units to pixels, the way Windows lays out a dialog template: the
// horizontal base unit is the average width of the Latin letters in the
// dialog's font, the vertical one the font's height; a control at x, y, w, h
// dialog units sits at MulDiv(x, base width, 4), MulDiv(y, base height, 8).
#include <QFont>
#include <QRect>
#include <QSize>

struct DialogBaseUnits {
    int width = 0;   // average character width in pixels
    int height = 0;  // character height in pixels
};

// The font of a dialog template where it is installed, otherwise the
// desktop's Japanese gothic faces, at the template's point size.
QFont DialogFont(const char8_t* fontName, int points);

DialogBaseUnits BaseUnitsOf(const QFont& font);

// a * b / c rounded half away from zero, as Windows' MulDiv.
int MulDiv(int a, int b, int c);

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height);
QSize DialogUnitsToPixels(const DialogBaseUnits& units, int width, int height);
