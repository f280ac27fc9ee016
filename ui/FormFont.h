#pragma once

#include <QFont>
#include <QStringList>

namespace quorvane {

// The windows are laid out in pixels for a narrow 8-point sans-serif face. Where that face is
// not installed, the fallbacks are faces of about its width, so that the captions still fit
// the controls they were measured for.
inline QFont FormFont(const QString& family) {
    QFont font(family);
    font.setFamilies({family, QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans Narrow"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed")});
    return font;
}

// The synchronization window's face, given in pixels.
inline QFont FormFontPixels(const QString& family, int pixelSize) {
    QFont font = FormFont(family);
    font.setPixelSize(pixelSize);
    return font;
}

// The configuration windows' face, given in points.
inline QFont FormFontPoints(const QString& family, int pointSize) {
    QFont font = FormFont(family);
    font.setPointSize(pointSize);
    return font;
}

}  // namespace quorvane
