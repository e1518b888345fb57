#include "window/WindowIcon.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QResource>

namespace window {

QIcon windowIcon() {
    QIcon icon;
    for (const int size : {32, 48, 64}) {
        // Stored uncompressed, so the pixels are used where they lie, without a copy.
        const QResource pixels(QStringLiteral(":/icon/tavik-%1.rgba").arg(size));
        if (pixels.isValid() && pixels.size() == qint64(size) * size * 4 &&
            pixels.compressionAlgorithm() == QResource::NoCompression) {
            const QImage image(pixels.data(), size, size, QImage::Format_RGBA8888);
            icon.addPixmap(QPixmap::fromImage(image));
        }
    }
    return icon;
}

} // namespace window
