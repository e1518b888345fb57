#include "platform/SecretClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

namespace {

void setSecret(const QString& text, QClipboard::Mode mode) {
    auto* data = new QMimeData; // the clipboard takes ownership
    data->setText(text);
    data->setData(PasswordManagerHintType, QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(data, mode);
}

} // namespace

void copySecretToClipboard(const QString& text) {
    setSecret(text, QClipboard::Clipboard);
}

void keepSelectionSecret() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection()) {
        return;
    }
    // A widget sets the selection itself, without the mark. The change is seen here before the
    // event loop serves the selection to anyone, so replacing it at once means no other program
    // ever sees it unmarked.
    QObject::connect(clipboard, &QClipboard::selectionChanged, clipboard, [clipboard] {
        const QMimeData* data = clipboard->mimeData(QClipboard::Selection);
        if (clipboard->ownsSelection() && data && !data->hasFormat(PasswordManagerHintType)) {
            setSecret(data->text(), QClipboard::Selection);
        }
    });
}

} // namespace platform
