#include "window/LengthSpinnerAccessible.h"

#include "window/LengthSpinner.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace window {

namespace {

class LengthSpinnerAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LengthSpinnerAccessible(LengthSpinner* spinner)
        : QAccessibleWidget(spinner, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Value ? QString::number(spinner()->length())
                                          : QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return spinner()->length(); }
    void setCurrentValue(const QVariant& value) override { spinner()->setLength(value.toInt()); }
    QVariant minimumValue() const override { return LengthSpinner::MinimumLength; }
    QVariant maximumValue() const override { return LengthSpinner::MaximumLength; }
    QVariant minimumStepSize() const override { return 1; }

    QStringList actionNames() const override {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& name) override {
        if (name == increaseAction()) {
            spinner()->setLength(spinner()->length() + 1);
        } else if (name == decreaseAction()) {
            spinner()->setLength(spinner()->length() - 1);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    LengthSpinner* spinner() const { return static_cast<LengthSpinner*>(widget()); }
};

QAccessibleInterface* createAccessible(const QString&, QObject* object) {
    if (auto* spinner = qobject_cast<LengthSpinner*>(object)) {
        return new LengthSpinnerAccessible(spinner);
    }
    return nullptr;
}

} // namespace

void installLengthSpinnerAccessibility() {
    static const bool installed = (QAccessible::installFactory(&createAccessible), true);
    (void)installed;
}

} // namespace window
