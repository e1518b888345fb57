#include "window/Appearance.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

namespace window {

void applyAppearance() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
}

} // namespace window
