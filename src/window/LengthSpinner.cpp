#include "window/LengthSpinner.h"

#include "window/LengthSpinnerAccessible.h"

#include <QPainter>

namespace window {

LengthSpinner::LengthSpinner(QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {
    installLengthSpinnerAccessibility();
    setRange(MinimumLength, MaximumLength);
    setSingleStep(1);
    setPageStep(1);
    setTracking(false);
    // A plain scroll bar never takes the keyboard focus; a spinner must.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QAbstractSlider::valueChanged, this,
            [this](int value) { emit lengthChanged(mirrored(value)); });
}

int LengthSpinner::length() const {
    return mirrored(value());
}

void LengthSpinner::setLength(int length) {
    setValue(mirrored(length));
}

void LengthSpinner::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    // Scroll bars draw no focus indicator of their own; without one a keyboard user cannot
    // tell that the arrow keys now move the length. The style's focus frame is a faint
    // translucent line: this one is solid, in the highlight colour, which stands out at least
    // 3:1 against the window.
    if (hasFocus()) {
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace window
