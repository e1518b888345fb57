#include "platform/SecretClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace platform {

void copySecretToClipboard(const QString& text) {
    auto* data = new QMimeData; // the clipboard takes ownership
    data->setText(text);
    data->setData(PasswordManagerHintType, QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

} // namespace platform
