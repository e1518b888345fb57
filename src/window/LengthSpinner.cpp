#include "window/LengthSpinner.h"

#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace window {

LengthSpinner::LengthSpinner(QWidget* parent)
    : QScrollBar(Qt::Vertical, parent) {
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
    // tell that the arrow keys now move the length.
    if (hasFocus()) {
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect();
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
}

} // namespace window
