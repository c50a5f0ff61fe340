#pragma once

#include <QColor>
#include <QFont>

// The windows' fonts and colours as laid out: sizes in pixels, so that they do not follow the
// screen's dots per inch (form scaling changes them instead).
inline QFont DesignFont(bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(bold);
    font.setItalic(false);
    return font;
}

// The report views' font.
inline QFont ViewFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(13);
    // Set outright, or the view would take them from a bold group box around it.
    font.setBold(false);
    font.setItalic(false);
    return font;
}

inline QColor NavyColour() {
    return QColor(0, 0, 128);
}
inline QColor GrayColour() {
    return QColor(128, 128, 128);
}
