#include "window/TitleBar.h"

#include "platform/TitleBars.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

namespace window {

namespace {

constexpr int BarHeight = 28;

class TitleBar : public QWidget {
public:
    explicit TitleBar(QWidget& window)
        : QWidget(&window) {
        setObjectName(QStringLiteral("TitleBar"));
        auto* buttons = new QHBoxLayout(this);
        buttons->setContentsMargins(0, 0, 4, 0);
        buttons->setSpacing(2);
        buttons->addStretch();
        if (window.windowType() == Qt::Window) {
            addButton(*buttons, QStringLiteral("\u2013"), tr("Minimize"),
                      [&window] { window.showMinimized(); });
        }
        addButton(*buttons, QStringLiteral("\u2715"), tr("Close"), [&window] { window.close(); });
        setGeometry(0, 0, window.width(), BarHeight);
        window.installEventFilter(this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window).darker(112));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawLine(rect().bottomLeft(), rect().bottomRight());
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        // Greyed while another window has the focus, still 4.8:1 against the bar.
        painter.setPen(isActiveWindow() ? palette().color(QPalette::WindowText)
                                        : QColor(0x50, 0x50, 0x50));
        painter.drawText(rect(), Qt::AlignCenter, window()->windowTitle());
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && window()->windowHandle()) {
            window()->windowHandle()->startSystemMove();
        }
    }

    // Follows the window: its width (a message box takes its size as it shows), and whether it
    // has the focus.
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            setGeometry(0, 0, window()->width(), BarHeight);
        } else if (event->type() == QEvent::ActivationChange) {
            update();
        }
        return false;
    }

private:
    template <typename Action>
    void addButton(QHBoxLayout& buttons, const QString& glyph, const QString& name, Action action) {
        auto* button = new QToolButton(this);
        button->setText(glyph);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus); // the window's tab order stays as it is
        button->setAccessibleName(name);
        button->setToolTip(name);
        connect(button, &QToolButton::clicked, this, action);
        buttons.addWidget(button);
    }
};

} // namespace

void giveOwnTitleBarWhereQtWouldDrawOne(QWidget& window) {
    static const bool qtWouldDraw = platform::qtWouldDrawTitleBars();
    if (!qtWouldDraw) {
        return;
    }
    window.setWindowFlag(Qt::FramelessWindowHint); // Qt draws no bar of its own
    if (window.layout()) {
        window.setContentsMargins(0, BarHeight, 0, 0); // the layout keeps below the bar
    } else {
        // A fixed layout: every control moves down by the bar, and the window grows by it.
        for (QWidget* control : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            control->move(control->x(), control->y() + BarHeight);
        }
        window.setFixedSize(window.width(), window.height() + BarHeight);
    }
    new TitleBar(window);
}

} // namespace window
