#include "window/Appearance.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

namespace window {

void applyAppearance() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(designFont());
}

QFont designFont() {
    QFont font(QStringLiteral("Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QPalette designPalette() {
    // Fusion's own light colours, with the design's background, and a highlight dark enough
    // for white text on it and for the focus frame drawn in it.
    const QColor window(0xE0, 0xE0, 0xE0);
    const QColor button(0xEF, 0xEF, 0xEF);
    const QColor light = button.lighter(150);
    const QColor dark = button.darker(150);
    const QColor mid = button.darker(130);
    QPalette palette(Qt::black, button, light, dark, mid, Qt::black, Qt::white, Qt::white, window);
    palette.setColor(QPalette::Midlight, mid.lighter(110));
    palette.setColor(QPalette::Shadow, dark.darker(135));
    palette.setColor(QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7));
    palette.setColor(QPalette::Highlight, QColor(0x27, 0x67, 0xA8));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xDC));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Link, QColor(0x00, 0x00, 0xCC));
    palette.setColor(QPalette::LinkVisited, QColor(0x80, 0x00, 0x80));
    palette.setColor(QPalette::PlaceholderText, QColor(0x60, 0x60, 0x60));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    return palette;
}

} // namespace window
