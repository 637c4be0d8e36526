#include "qt/dialog_units_qt.h"

#include <cstdint>
#include <cstdlib>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

#include "qt/text_qt.h"

namespace {

// The faces tried after the template's own, in order: the same face under
// its English name, then the Japanese gothic faces of Linux desktops, the
// proportional IPA face first since its widths come closest to the original.
const QStringList& FallbackFamilies() {
    static const QStringList families = {
        QStringLiteral("MS PGothic"),
        QStringLiteral("IPAPGothic"),
        QString::fromUtf8(reinterpret_cast<const char*>(u8"IPA Pゴシック")),
        QStringLiteral("Noto Sans CJK JP"),
    };
    return families;
}

}  // namespace

QFont DialogFont(const char8_t* fontName, int points) {
    const QStringList installed = QFontDatabase::families();
    QStringList wanted = {QtText(fontName)};
    wanted += FallbackFamilies();
    QFont font;
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            font.setFamily(family);
            break;
        }
    }
    font.setPointSize(points);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    // Windows takes the extent of the 52 letters and rounds it to an average.
    const int extent = metrics.horizontalAdvance(letters);
    return DialogBaseUnits{(extent / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int a, int b, int c) {
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = std::llabs(c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = (std::llabs(product) + half) / std::llabs(c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
    return QRect(QPoint(MulDiv(x, units.width, 4), MulDiv(y, units.height, 8)),
                 DialogUnitsToPixels(units, width, height));
}

QSize DialogUnitsToPixels(const DialogBaseUnits& units, int width, int height) {
    return QSize(MulDiv(width, units.width, 4), MulDiv(height, units.height, 8));
}
