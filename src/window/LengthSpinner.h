#pragma once

#include <QScrollBar>

namespace window {

// A short vertical scroll bar used as a spinner for the password length. Unlike a plain
// QScrollBar, whose top arrow lowers the value, the up arrow, the Up key and the wheel turned
// up raise the length, as users expect of a spinner.
class LengthSpinner : public QScrollBar {
    Q_OBJECT
public:
    static constexpr int MinimumLength = 5;
    static constexpr int MaximumLength = 12;

    explicit LengthSpinner(QWidget* parent = nullptr);

    // The length shown, MinimumLength..MaximumLength.
    int length() const;
    void setLength(int length);

signals:
    // Emitted once the length has changed: after an arrow click or a key press, and at the end
    // of a drag, not during it.
    void lengthChanged(int length);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The scroll bar's own value runs the other way: the top arrow lowers it.
    static int mirrored(int value) { return MinimumLength + MaximumLength - value; }
};

} // namespace window
